// ONNX Runtime's C++ API as the engine uses it: include this, never <onnxruntime_cxx_api.h>
// itself. The API's function table is set up by hand, on the first network load, so that
// nothing touches the library before a network is asked for: on Windows the library is
// loaded only then, and the engine starts and plays with its built-in pattern evaluator on
// machines where onnxruntime.dll cannot be loaded.
#pragma once

#define ORT_API_MANUAL_INIT
#include <onnxruntime_cxx_api.h>

#include <stdexcept>

namespace tovan::eval {

// The library or the API version the engine is written against is not available.
struct RuntimeUnavailable : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The library's function table, with the C++ API set up on it. The first call loads the
// library (on Windows onnxruntime.dll, from the executable's folder); later calls return
// the same table. Thread-safe. Throws RuntimeUnavailable, and then tries again on the next
// call.
const OrtApi& onnx_runtime_api();

}  // namespace tovan::eval
