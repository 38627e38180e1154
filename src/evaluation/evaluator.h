// The batched evaluation service: turns positions into EvalResults for the search.
//
// Search threads submit positions and get one future each; the answers arrive when some
// thread calls flush, which runs the queued positions through the network in batches of
// at most the batch size, caches and delivers the results. Finished games, cached
// positions, the built-in pattern evaluator and random mode are answered inside submit.
// There is no evaluation thread.
//
// Thread safety: submit may be called from many threads at once. flush holds the queue
// mutex for its whole run, so one thread at a time runs this evaluator's network, and
// inside it takes the session, cache and promise locks one at a time. load_model holds
// the model mutex and never the queue mutex. A submitter keeps each board alive and
// unchanged until its future is ready.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "board/board.h"
#include "evaluation/board_evaluator.h"
#include "evaluation/eval_cache.h"
#include "evaluation/eval_result.h"
#include "evaluation/features.h"
#include "evaluation/inference_session.h"

namespace tovan::eval {

struct EvaluatorOptions {
  DeviceOptions device{};
  int32_t batch_size = 1;      // positions per network run, at most
  int32_t cache_capacity = 0;  // cached results, at most
};

class Evaluator {
 public:
  // An evaluator for positions of `rule` on boards of `width` x `height`. Throws
  // std::invalid_argument for a batch size below 1. No model is loaded: the evaluator
  // starts in random mode.
  Evaluator(Rule rule, int32_t width, int32_t height, const EvaluatorOptions& options);

  // An ONNX model file, a weights file of the built-in pattern evaluator (a path ending
  // in ".weights"), a code network (".codenet"), or "random" (answer with small noise
  // instead of the network) or "pause" (make every later submit wait until the next
  // load_model has finished). A file that cannot be loaded or does not fit the board
  // throws ModelError and leaves the evaluator as it was, except that a pause ends.
  void load_model(const std::string& path);
  // What load_model takes `path` for when it answers in the calling thread: "built-in
  // pattern evaluator" or "code network"; nullptr for an ONNX model.
  static const char* board_evaluator_kind(const std::string& path);

  // One future per position, in order. Throws std::invalid_argument, before queueing
  // anything, for a position whose rule or board size is not the evaluator's own (its
  // features would not fit the network's input).
  std::vector<std::future<EvalResult>> submit(const std::vector<const Board*>& positions);

  // Whether submit answers every position itself (random mode, the built-in evaluator), so
  // that flush has nothing to run. Read it between loads only.
  bool answers_in_submit() const { return mode_ != Mode::kNetwork; }

  // Runs every queued position and returns when all are answered. When a network run
  // fails, every request still waiting (the failed batch and the rest of the queue) gets
  // the exception, and flush rethrows it.
  void flush();

  // Bytes the cache may hold (EvalCache::kNoByteLimit: bounded by its entry capacity
  // alone); a smaller budget evicts the oldest entries at once.
  void set_cache_budget(int64_t bytes) { cache_.set_byte_budget(bytes); }

  // The loaded model's file name without folder and extension ("net" for models/net.onnx),
  // or "random". Read it between loads only.
  const std::string& model_name() const { return model_name_; }

 private:
  struct Request {
    std::shared_ptr<std::promise<EvalResult>> promise;
    const Board* board;
    FeatureMap features;
  };

  // How positions that are neither finished nor cached are answered.
  enum class Mode { kRandom, kNetwork, kInProcess };

  // After a successful load: the model's results replace the cached ones of the last.
  void take_up(const std::string& path, Mode mode);
  EvalResult random_result(const Board& board);
  float next_noise();
  void run_batch(std::vector<Request>& batch);

  void check_fits(const Board& board) const;

  int32_t width_;
  int32_t height_;
  Rule rule_;
  int32_t batch_size_;
  std::string device_;
  int channels_;

  std::mutex model_mutex_;
  std::atomic<Mode> mode_{Mode::kRandom};
  // The evaluator of the in-process mode; a submit holds its own reference, so a load may
  // replace it at any time.
  std::atomic<std::shared_ptr<const BoardEvaluator>> in_process_;
  std::atomic<bool> paused_{false};
  std::string model_name_;
  std::string model_path_;
  InferenceSession session_;

  std::mutex queue_mutex_;
  std::deque<Request> queue_;
  std::vector<float> input_;                 // the batch's "spatial_feature" tensor
  std::vector<std::vector<float>> outputs_;  // the batch's policy, win rate and draw rate

  std::vector<float> noise_;  // random mode's logits and values, from -0.005 to 0.005
  std::atomic<uint32_t> noise_cursor_{0};

  EvalCache cache_;
};

}  // namespace tovan::eval
