// One ONNX Runtime session: the execution provider chosen by the device, the loaded
// model and one run operation over named float32 inputs. Knows nothing of boards.
//
// Thread safety: load and infer lock the session's own mutex, so one session runs one
// batch at a time; sessions of different evaluators run in parallel.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace tovan::eval {

// A model that cannot be used: it failed to load, or its tensors break the contract.
struct ModelError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A tensor the model must have: its name and shape, where -1 accepts any extent (a
// symbolic dimension of the model always matches) and an empty shape any shape.
struct TensorSpec {
  std::string name;
  std::vector<int64_t> shape;
};

struct ModelContract {
  std::vector<TensorSpec> inputs;   // exactly these float32 inputs, in this order
  std::vector<TensorSpec> outputs;  // at least these float32 outputs; runs return these, in this order
};

struct InputTensor {
  std::string name;
  const float* data;
  std::vector<int64_t> shape;
};

// Where and how a session runs its model.
struct DeviceOptions {
  std::string device = "cpu";  // "cpu", "cuda" or "tensorrt"
  uint32_t device_id = 0;
  int64_t device_memory_limit = 0;  // bytes, for the GPU providers
  uint32_t intra_op_threads = 1;
  std::string trt_engine_cache_path{};
  std::string trt_timing_cache_path{};
};

class InferenceSession {
 public:
  ~InferenceSession();
  // No model is loaded, and ONNX Runtime is not touched before the first load.
  explicit InferenceSession(DeviceOptions options);

  // The first load loads the library itself (onnx_runtime.h); a library that cannot be
  // loaded fails the load like a broken model file, and a later load tries again.
  // Creates the session for the model file, checks it against the contract and runs it
  // once on `warm_up`, all under the session's mutex. Dimension overrides (symbolic name to extent) are applied only on
  // "tensorrt". On any failure a ModelError says what went wrong and the previously
  // loaded model, if any, stays in use.
  void load(const std::string& model_path, const ModelContract& contract,
            const std::map<std::string, int64_t>& overrides, const std::vector<InputTensor>& warm_up);

  // Runs the model; `outputs` receives the contract's outputs in the contract's order (its
  // buffers are reused, so a caller that keeps it allocates nothing after the first run).
  void infer(const std::vector<InputTensor>& inputs, std::vector<std::vector<float>>& outputs);

 private:
  struct Runtime;  // the library's objects, kept out of this header

  std::mutex mutex_;
  const DeviceOptions options_;
  std::unique_ptr<Runtime> runtime_;
};

}  // namespace tovan::eval
