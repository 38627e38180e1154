#include "evaluation/evaluator.h"

#include <cassert>
#include <chrono>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "evaluation/code_network.h"
#include "evaluation/pattern_evaluator.h"

namespace tovan::eval {
namespace {

// Random mode hands out values from a fixed table of uniform draws from -0.005 to 0.005
// in steps of 0.000001; a prime length keeps its cycle apart from candidate counts.
constexpr size_t kNoiseTableSize = 10007;
constexpr int kNoiseSteps = 10000;
constexpr float kNoiseScale = 1e-6f;

constexpr auto kPausePoll = std::chrono::milliseconds(100);

constexpr std::string_view kWeightsExtension = ".weights";
constexpr std::string_view kCodeNetworkExtension = ".codenet";

// The file name without its folder and its extension.
std::string model_name_of(const std::string& path) {
  const size_t separator = path.find_last_of("/\\");
  const std::string file = separator == std::string::npos ? path : path.substr(separator + 1);
  const size_t dot = file.find_last_of('.');
  return dot == std::string::npos || dot == 0 ? file : file.substr(0, dot);
}

}  // namespace

Evaluator::Evaluator(Rule rule, int32_t width, int32_t height, const EvaluatorOptions& options)
    : width_(width),
      height_(height),
      rule_(rule),
      batch_size_(options.batch_size),
      device_(options.device.device),
      channels_(channel_count(rule)),
      session_(options.device),
      cache_(options.cache_capacity) {
  if (batch_size_ < 1) throw std::invalid_argument("evaluation batch size must be at least 1");
  // GPU devices run a fixed batch dimension; the CPU runs as many rows as there are requests.
  const size_t rows = device_ == "cpu" ? 1 : static_cast<size_t>(batch_size_);
  input_.assign(rows * channels_ * height_ * width_, 0.0f);

  std::mt19937 generator{std::random_device{}()};
  std::uniform_int_distribution<int> draw(0, kNoiseSteps);
  noise_.resize(kNoiseTableSize);
  for (float& value : noise_) value = static_cast<float>(draw(generator) - kNoiseSteps / 2) * kNoiseScale;
}

void Evaluator::load_model(const std::string& path) {
  std::lock_guard lock(model_mutex_);
  if (path == "pause") {
    paused_ = true;
    return;
  }
  // Held submits go on only once the new mode is in place, and also when the load fails,
  // so that nobody waits for a model that never comes.
  struct Resume {
    std::atomic<bool>& paused;
    ~Resume() { paused = false; }
  } resume{paused_};
  if (path == "random") {
    model_path_ = model_name_ = path;
    mode_ = Mode::kRandom;
    return;
  }
  if (path.ends_with(kWeightsExtension)) {
    in_process_ = std::make_shared<const PatternEvaluator>(read_pattern_weights(path));
    return take_up(path, Mode::kInProcess);
  }
  if (path.ends_with(kCodeNetworkExtension)) {
    in_process_ = std::make_shared<const CodeNetwork>(read_code_network(path), rule_);
    return take_up(path, Mode::kInProcess);
  }

  std::map<std::string, int64_t> overrides;
  if (device_ == "tensorrt") {
    overrides = {{"batch_size", batch_size_},
                 {"board_height", height_},
                 {"board_width", width_},
                 {"policy_size", int64_t{height_} * width_}};
  }
  const int64_t batch = device_ == "cpu" ? -1 : batch_size_;
  // The outputs in the order run_batch reads them.
  const ModelContract contract{{{kSpatialFeature, {batch, channels_, height_, width_}}},
                               {{"policy", {batch, int64_t{height_} * width_}}, {"win_rate", {}}, {"draw_rate", {}}}};
  // The warm-up run has an input of its own: a flush may be using the batch buffer meanwhile.
  const int64_t warm_up_rows = device_ == "cpu" ? 1 : batch_size_;
  std::vector<float> warm_up_input(static_cast<size_t>(warm_up_rows * channels_ * height_ * width_), 0.0f);
  session_.load(path, contract, overrides,
                {{kSpatialFeature, warm_up_input.data(), {warm_up_rows, channels_, height_, width_}}});

  take_up(path, Mode::kNetwork);
}

void Evaluator::take_up(const std::string& path, Mode mode) {
  cache_.clear();
  model_path_ = path;
  model_name_ = model_name_of(path);
  mode_ = mode;
}

const char* Evaluator::board_evaluator_kind(const std::string& path) {
  if (path.ends_with(kWeightsExtension)) return "built-in pattern evaluator";
  if (path.ends_with(kCodeNetworkExtension)) return "code network";
  return nullptr;
}

std::vector<std::future<EvalResult>> Evaluator::submit(const std::vector<const Board*>& positions) {
  for (const Board* board : positions) check_fits(*board);
  while (paused_) std::this_thread::sleep_until(std::chrono::steady_clock::now() + kPausePoll);
  const Mode mode = mode_;
  const std::shared_ptr<const BoardEvaluator> in_process = mode == Mode::kInProcess ? in_process_.load() : nullptr;

  std::vector<std::future<EvalResult>> futures;
  futures.reserve(positions.size());
  auto answer = [&](EvalResult result) {
    std::promise<EvalResult> promise;
    futures.push_back(promise.get_future());
    promise.set_value(std::move(result));
  };
  std::vector<Request> requests;
  for (const Board* board : positions) {
    if (board->game_over()) {
      answer(EvalResult{{}, board->result_values(), board->winner() == 2 ? 1.0f : 0.0f});
    } else if (mode == Mode::kRandom) {
      answer(random_result(*board));
    } else if (auto cached = cache_.lookup(board->hash())) {
      answer(std::move(*cached));
    } else if (mode == Mode::kInProcess) {
      EvalResult result = in_process->evaluate(*board);
      cache_.insert(board->hash(), result);
      answer(std::move(result));
    } else {
      auto promise = std::make_shared<std::promise<EvalResult>>();
      futures.push_back(promise->get_future());
      requests.push_back(Request{std::move(promise), board, build_features(*board)});
    }
  }

  if (requests.empty()) return futures;
  std::lock_guard lock(queue_mutex_);
  for (Request& request : requests) queue_.push_back(std::move(request));
  return futures;
}

void Evaluator::flush() {
  std::lock_guard lock(queue_mutex_);
  std::vector<Request> batch;
  try {
    while (!queue_.empty()) {
      batch.clear();
      while (batch.size() < static_cast<size_t>(batch_size_) && !queue_.empty()) {
        batch.push_back(std::move(queue_.front()));
        queue_.pop_front();
      }
      run_batch(batch);
    }
  } catch (...) {
    // Nobody may be left waiting: every request not yet answered gets the failure.
    const std::exception_ptr failure = std::current_exception();
    auto fail = [&](Request& request) {
      try {
        request.promise->set_exception(failure);
      } catch (const std::future_error&) {
        // Already answered before the failure.
      }
    };
    for (Request& request : batch) fail(request);
    for (Request& request : queue_) fail(request);
    queue_.clear();
    throw;
  }
}

void Evaluator::run_batch(std::vector<Request>& batch) {
  const size_t plane_size = static_cast<size_t>(height_) * width_;
  const size_t position_size = static_cast<size_t>(channels_) * plane_size;
  const size_t rows = device_ == "cpu" ? batch.size() : static_cast<size_t>(batch_size_);
  assert(!batch.empty() && batch.size() <= static_cast<size_t>(batch_size_));
  // Rows past the requests (fixed batch dimension) keep stale data; their outputs are ignored.
  input_.resize(rows * position_size);
  for (size_t i = 0; i < batch.size(); ++i) {
    const FeatureBuffer& planes = batch[i].features.spatial_feature;
    assert(planes.size() == position_size);
    std::copy(planes.begin(), planes.end(), input_.begin() + static_cast<std::ptrdiff_t>(i * position_size));
    FeatureBufferPool::instance().release(std::move(batch[i].features.spatial_feature));
  }

  session_.infer({{kSpatialFeature, input_.data(), {static_cast<int64_t>(rows), channels_, height_, width_}}},
                 outputs_);
  const std::vector<float>& policy = outputs_[0];
  const std::vector<float>& win_rate = outputs_[1];
  const std::vector<float>& draw_rate = outputs_[2];
  if (policy.size() != rows * plane_size || win_rate.size() != rows || draw_rate.size() != rows) {
    throw ModelError("model " + model_path_ + " answered " + std::to_string(policy.size()) + " policy, " +
                     std::to_string(win_rate.size()) + " win-rate and " + std::to_string(draw_rate.size()) +
                     " draw-rate values for " + std::to_string(rows) + " positions of " + std::to_string(width_) + "x" +
                     std::to_string(height_));
  }

  for (size_t i = 0; i < batch.size(); ++i) {
    EvalResult result = decode_output(*batch[i].board, policy.data() + i * plane_size, win_rate[i], draw_rate[i]);
    cache_.insert(batch[i].board->hash(), result);
    batch[i].promise->set_value(std::move(result));
  }
}

void Evaluator::check_fits(const Board& board) const {
  if (board.config().rule == rule_ && board.config().width == width_ && board.config().height == height_) return;
  throw std::invalid_argument("a " + std::string(rule_name(board.config().rule)) + " " +
                              std::to_string(board.config().width) + "x" + std::to_string(board.config().height) +
                              " position does not fit the evaluator built for " + std::string(rule_name(rule_)) + " " +
                              std::to_string(width_) + "x" + std::to_string(height_));
}

float Evaluator::next_noise() { return noise_[noise_cursor_.fetch_add(1, std::memory_order_relaxed) % noise_.size()]; }

EvalResult Evaluator::random_result(const Board& board) {
  EvalResult result;
  result.policy.reserve(board.candidates().size());
  for (size_t i = 0; i < board.candidates().size(); ++i) result.policy.push_back(next_noise());
  softmax(result.policy);
  const float value = next_noise();
  result.values = {value, -value};
  return result;
}

}  // namespace tovan::eval
