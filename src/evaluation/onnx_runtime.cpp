#include "evaluation/onnx_runtime.h"

#include <string>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <filesystem>

#include "evaluation/file_path.h"
#endif

namespace tovan::eval {
namespace {

// The API version the engine is written against.
constexpr uint32_t kOrtApiVersion = 17;

#ifdef _WIN32
// The program is not linked against onnxruntime.dll, which needs the Microsoft Visual C++
// run-time that a fresh Windows lacks: the DLL is loaded here, from the executable's folder
// and by its full path, so that no other copy on the search path is taken.
const OrtApiBase* runtime_api_base() {
  std::wstring program(32768, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, program.data(), static_cast<DWORD>(program.size()));
  if (length == 0 || length >= program.size()) {
    const DWORD error = GetLastError();
    throw RuntimeUnavailable("cannot find the executable's folder to load onnxruntime.dll (Windows error " +
                             std::to_string(error) + ")");
  }
  const std::filesystem::path library =
      std::filesystem::path(program.substr(0, length)).parent_path() / L"onnxruntime.dll";
  // The altered search path makes the DLLs it needs in turn be looked for in its own folder first.
  const HMODULE module = LoadLibraryExW(library.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (module == nullptr) {
    const DWORD error = GetLastError();  // before anything else can change it
    throw RuntimeUnavailable("cannot load " + utf8_of(library) + " (Windows error " + std::to_string(error) +
                             "): it must lie next to the executable, and it needs the Microsoft Visual C++ 2015-2022 "
                             "x64 run-time (the Visual C++ Redistributable)");
  }
  const FARPROC entry = GetProcAddress(module, "OrtGetApiBase");
  if (entry == nullptr) {
    const DWORD error = GetLastError();
    throw RuntimeUnavailable(utf8_of(library) + " has no OrtGetApiBase (Windows error " + std::to_string(error) + ")");
  }
  // Through the generic function pointer type, which converts to any other without a warning.
  using GetApiBase = const OrtApiBase*(ORT_API_CALL*)();
  return reinterpret_cast<GetApiBase>(reinterpret_cast<void (*)()>(entry))();
}
#else
const OrtApiBase* runtime_api_base() { return OrtGetApiBase(); }
#endif

const OrtApi* load_runtime_api() {
  const OrtApi* api = runtime_api_base()->GetApi(kOrtApiVersion);
  if (api == nullptr) {
    throw RuntimeUnavailable("ONNX Runtime does not offer API version " + std::to_string(kOrtApiVersion));
  }
  Ort::InitApi(api);
  return api;
}

}  // namespace

const OrtApi& onnx_runtime_api() {
  // Initialised once, by the first call that gets through; one that throws leaves it for the next.
  static const OrtApi* const api = load_runtime_api();
  return *api;
}

}  // namespace tovan::eval
