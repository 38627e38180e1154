#include "evaluation/inference_session.h"

#include <algorithm>
#include <sstream>

#include "evaluation/file_path.h"
#include "evaluation/onnx_runtime.h"

namespace tovan::eval {
namespace {

std::string shape_text(const std::vector<int64_t>& shape) {
  std::ostringstream text;
  text << "[";
  for (size_t i = 0; i < shape.size(); ++i) text << (i ? ", " : "") << (shape[i] < 0 ? "?" : std::to_string(shape[i]));
  text << "]";
  return text.str();
}

// The model's shape matches when the ranks agree and every fixed extent equals the
// expected one (symbolic extents, read as -1, match anything); an empty expected shape
// accepts any shape.
bool shape_matches(const std::vector<int64_t>& model, const std::vector<int64_t>& expected) {
  if (expected.empty()) return true;
  if (model.size() != expected.size()) return false;
  for (size_t i = 0; i < model.size(); ++i) {
    if (model[i] >= 0 && expected[i] >= 0 && model[i] != expected[i]) return false;
  }
  return true;
}

std::string element_type_text(ONNXTensorElementDataType type) {
  switch (type) {
    case ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT:
      return "float32";
    case ONNX_TENSOR_ELEMENT_DATA_TYPE_INT8:
      return "int8";
    case ONNX_TENSOR_ELEMENT_DATA_TYPE_UINT8:
      return "uint8";
    case ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT16:
      return "float16";
    case ONNX_TENSOR_ELEMENT_DATA_TYPE_INT64:
      return "int64";
    case ONNX_TENSOR_ELEMENT_DATA_TYPE_INT32:
      return "int32";
    default:
      return "type " + std::to_string(static_cast<int>(type));
  }
}

struct TensorInfo {
  std::string name;
  ONNXTensorElementDataType type;
  std::vector<int64_t> shape;
};

std::vector<TensorInfo> tensors_of(Ort::Session& session, bool inputs) {
  Ort::AllocatorWithDefaultOptions allocator;
  const size_t count = inputs ? session.GetInputCount() : session.GetOutputCount();
  std::vector<TensorInfo> tensors;
  for (size_t i = 0; i < count; ++i) {
    const Ort::TypeInfo type_info = inputs ? session.GetInputTypeInfo(i) : session.GetOutputTypeInfo(i);
    TensorInfo info{
        inputs ? session.GetInputNameAllocated(i, allocator).get() : session.GetOutputNameAllocated(i, allocator).get(),
        ONNX_TENSOR_ELEMENT_DATA_TYPE_UNDEFINED,
        {}};
    if (type_info.GetONNXType() == ONNX_TYPE_TENSOR) {
      const auto tensor_info = type_info.GetTensorTypeAndShapeInfo();
      info.type = tensor_info.GetElementType();
      info.shape = tensor_info.GetShape();
    }
    tensors.push_back(std::move(info));
  }
  return tensors;
}

// Every way the model breaks the contract, one sentence each.
std::vector<std::string> contract_faults(const std::vector<TensorInfo>& inputs, const std::vector<TensorInfo>& outputs,
                                         const ModelContract& contract) {
  std::vector<std::string> faults;
  std::string input_names;
  for (const auto& input : inputs) input_names += (input_names.empty() ? "" : ", ") + input.name;
  if (inputs.size() != contract.inputs.size()) {
    faults.push_back("expected " + std::to_string(contract.inputs.size()) + " input(s), found " +
                     std::to_string(inputs.size()) + " (" + input_names + ")");
  }
  for (size_t i = 0; i < std::min(inputs.size(), contract.inputs.size()); ++i) {
    const TensorSpec& expected = contract.inputs[i];
    const TensorInfo& found = inputs[i];
    if (found.name != expected.name) {
      faults.push_back("expected input \"" + expected.name + "\", found \"" + found.name + "\"");
      continue;
    }
    if (found.type != ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT) {
      faults.push_back("input \"" + found.name + "\" must be float32, found " + element_type_text(found.type));
    }
    if (!shape_matches(found.shape, expected.shape)) {
      faults.push_back("input \"" + found.name + "\" must have shape " + shape_text(expected.shape) + ", found " +
                       shape_text(found.shape));
    }
  }
  for (const TensorSpec& expected : contract.outputs) {
    const auto found =
        std::find_if(outputs.begin(), outputs.end(), [&](const TensorInfo& t) { return t.name == expected.name; });
    if (found == outputs.end()) {
      faults.push_back("missing output \"" + expected.name + "\"");
    } else if (found->type != ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT) {
      faults.push_back("output \"" + expected.name + "\" must be float32, found " + element_type_text(found->type));
    } else if (!shape_matches(found->shape, expected.shape)) {
      faults.push_back("output \"" + expected.name + "\" must have shape " + shape_text(expected.shape) + ", found " +
                       shape_text(found->shape));
    }
  }
  return faults;
}

// One run of the session: the inputs by the model's input names; the named outputs come
// back in order, into `results` (whose buffers are reused from run to run).
void run_session(Ort::Session& session, const std::vector<std::string>& input_names,
                 const std::vector<std::string>& output_names, const std::vector<InputTensor>& inputs,
                 std::vector<std::vector<float>>& results) {
  const Ort::MemoryInfo memory = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
  std::vector<Ort::Value> tensors;
  std::vector<const char*> input_pointers;
  for (const std::string& name : input_names) {
    const auto input = std::find_if(inputs.begin(), inputs.end(), [&](const InputTensor& t) { return t.name == name; });
    if (input == inputs.end()) throw ModelError("no data for model input \"" + name + "\"");
    size_t count = 1;
    for (int64_t extent : input->shape) count *= static_cast<size_t>(extent);
    // The library only reads the input buffer.
    tensors.push_back(Ort::Value::CreateTensor<float>(memory, const_cast<float*>(input->data), count,
                                                      input->shape.data(), input->shape.size()));
    input_pointers.push_back(name.c_str());
  }
  std::vector<const char*> output_pointers;
  for (const std::string& name : output_names) output_pointers.push_back(name.c_str());

  std::vector<Ort::Value> outputs = session.Run(Ort::RunOptions{nullptr}, input_pointers.data(), tensors.data(),
                                                tensors.size(), output_pointers.data(), output_pointers.size());
  results.resize(outputs.size());
  for (size_t i = 0; i < outputs.size(); ++i) {
    const size_t count = outputs[i].GetTensorTypeAndShapeInfo().GetElementCount();
    const float* data = outputs[i].GetTensorData<float>();
    results[i].assign(data, data + count);
  }
}

}  // namespace

struct InferenceSession::Runtime {
  Ort::Env environment{ORT_LOGGING_LEVEL_ERROR, "Inference"};
  std::unique_ptr<Ort::Session> session;
  std::vector<std::string> input_names;
  std::vector<std::string> output_names;
};

InferenceSession::InferenceSession(DeviceOptions options) : options_(std::move(options)) {}

InferenceSession::~InferenceSession() = default;

namespace {

// Provider option keys and values for the library's provider option objects.
struct ProviderOptions {
  std::vector<std::string> keys;
  std::vector<std::string> values;

  void add(std::string key, std::string value) {
    keys.push_back(std::move(key));
    values.push_back(std::move(value));
  }
  std::vector<const char*> key_pointers() const { return pointers(keys); }
  std::vector<const char*> value_pointers() const { return pointers(values); }

 private:
  static std::vector<const char*> pointers(const std::vector<std::string>& texts) {
    std::vector<const char*> result;
    for (const auto& text : texts) result.push_back(text.c_str());
    return result;
  }
};

}  // namespace

void InferenceSession::load(const std::string& model_path, const ModelContract& contract,
                            const std::map<std::string, int64_t>& overrides, const std::vector<InputTensor>& warm_up) {
  std::lock_guard lock(mutex_);
  std::unique_ptr<Ort::Session> session;
  try {
    // The library and its environment come with the first network.
    const OrtApi& api = onnx_runtime_api();
    if (!runtime_) runtime_ = std::make_unique<Runtime>();
    Ort::SessionOptions options;
    options.SetIntraOpNumThreads(static_cast<int>(options_.intra_op_threads));
    options.SetGraphOptimizationLevel(GraphOptimizationLevel::ORT_ENABLE_ALL);
    if (options_.device == "tensorrt") {
      for (const auto& [name, extent] : overrides) {
        Ort::ThrowOnError(api.AddFreeDimensionOverrideByName(options, name.c_str(), extent));
      }
      ProviderOptions settings;
      settings.add("device_id", std::to_string(options_.device_id));
      settings.add("trt_max_workspace_size", std::to_string(options_.device_memory_limit));
      settings.add("trt_fp16_enable", "1");
      settings.add("trt_engine_cache_enable", "1");
      settings.add("trt_engine_cache_path", options_.trt_engine_cache_path);
      settings.add("trt_timing_cache_enable", "1");
      settings.add("trt_timing_cache_path", options_.trt_timing_cache_path);
      OrtTensorRTProviderOptionsV2* provider = nullptr;
      Ort::ThrowOnError(api.CreateTensorRTProviderOptions(&provider));
      std::unique_ptr<OrtTensorRTProviderOptionsV2, decltype(api.ReleaseTensorRTProviderOptions)> owned(
          provider, api.ReleaseTensorRTProviderOptions);
      Ort::ThrowOnError(api.UpdateTensorRTProviderOptions(provider, settings.key_pointers().data(),
                                                          settings.value_pointers().data(), settings.keys.size()));
      Ort::ThrowOnError(api.SessionOptionsAppendExecutionProvider_TensorRT_V2(options, provider));
    } else if (options_.device == "cuda") {
      ProviderOptions settings;
      settings.add("device_id", std::to_string(options_.device_id));
      settings.add("gpu_mem_limit", std::to_string(options_.device_memory_limit));
      settings.add("cudnn_conv_use_max_workspace", "1");
      OrtCUDAProviderOptionsV2* provider = nullptr;
      Ort::ThrowOnError(api.CreateCUDAProviderOptions(&provider));
      std::unique_ptr<OrtCUDAProviderOptionsV2, decltype(api.ReleaseCUDAProviderOptions)> owned(
          provider, api.ReleaseCUDAProviderOptions);
      Ort::ThrowOnError(api.UpdateCUDAProviderOptions(provider, settings.key_pointers().data(),
                                                      settings.value_pointers().data(), settings.keys.size()));
      Ort::ThrowOnError(api.SessionOptionsAppendExecutionProvider_CUDA_V2(options, provider));
    }
    // The path in the system's own characters: the library takes UTF-16 names on Windows.
    const std::filesystem::path file = path_from_utf8(model_path);
    session = std::make_unique<Ort::Session>(runtime_->environment, file.c_str(), options);
  } catch (const Ort::Exception& error) {
    throw ModelError("cannot load model " + model_path + " on device " + options_.device + ": " + error.what());
  } catch (const RuntimeUnavailable& error) {
    throw ModelError("cannot load model " + model_path + ": " + error.what());
  }

  const auto inputs = tensors_of(*session, true);
  const auto outputs = tensors_of(*session, false);
  const auto faults = contract_faults(inputs, outputs, contract);
  if (!faults.empty()) {
    std::string message = "model " + model_path + " does not fit the engine:";
    for (size_t i = 0; i < faults.size(); ++i) message += (i ? "; " : " ") + faults[i];
    throw ModelError(message);
  }

  std::vector<std::string> input_names;
  std::vector<std::string> output_names;
  for (const auto& input : inputs) input_names.push_back(input.name);
  for (const auto& output : contract.outputs) output_names.push_back(output.name);
  try {
    std::vector<std::vector<float>> results;
    run_session(*session, input_names, output_names, warm_up, results);
  } catch (const Ort::Exception& error) {
    throw ModelError("model " + model_path + " failed its first run: " + error.what());
  }

  // The new session replaces the old one only once it is known to work.
  runtime_->session = std::move(session);
  runtime_->input_names = std::move(input_names);
  runtime_->output_names = std::move(output_names);
}

void InferenceSession::infer(const std::vector<InputTensor>& inputs, std::vector<std::vector<float>>& outputs) {
  std::lock_guard lock(mutex_);
  if (!runtime_ || !runtime_->session) throw ModelError("no model is loaded");
  run_session(*runtime_->session, runtime_->input_names, runtime_->output_names, inputs, outputs);
}

}  // namespace tovan::eval
