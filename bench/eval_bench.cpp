// Network throughput: the raw inference session against the evaluator's submit/flush
// path on real positions, for the shipped pattern network and two random residual
// networks on 15 x 15, in one run so the ratio is the cost of features, batching and
// decoding; the same path with the built-in pattern evaluator of the pattern network's
// numbers. Also feature building per position on its own.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "board/board.h"
#include "evaluation/evaluator.h"
#include "evaluation/features.h"
#include "evaluation/inference_session.h"
#include "random_games.h"
#include "raw_network.h"

namespace tovan {

namespace {

constexpr int kSide = 15;

const char* const kModels[] = {TOVAN_MODEL_DIR "/freestyle.onnx",
                               TOVAN_BENCH_MODEL_DIR "/resnet_6x64.onnx",
                               TOVAN_BENCH_MODEL_DIR "/resnet_10x128.onnx",
                               TOVAN_MODEL_DIR "/freestyle.weights",
                               "random",
                               TOVAN_BENCH_MODEL_DIR "/freestyle.codenet"};
const char* const kModelLabels[] = {"pattern",          "resnet 6x64", "resnet 10x128",
                                    "built-in pattern", "random mode", "code network"};
constexpr int kBuiltIn = 3;
constexpr int kCodeNetwork = 5;
// Random mode's answers, to take off search_bench's random-mode visits for the search's
// own cost per visit.
constexpr int kRandomMode = 4;

// Distinct middle-game positions (10 to 60 stones) from fixed-seed random games.
std::vector<Board> middle_games(size_t count) {
  std::vector<Board> positions;
  std::mt19937 rng(11);
  while (positions.size() < count) {
    Board board = empty_board(kSide);
    play_random_moves(board, rng, 10 + rng() % 51);
    positions.push_back(board);
  }
  return positions;
}

// One round of the evaluator's path: the next positions (round the list) submitted,
// flushed and awaited.
void evaluate_next(eval::Evaluator& evaluator, std::vector<const Board*>& request, const std::vector<Board>& positions,
                   size_t& next) {
  for (auto& board : request) {
    board = &positions[next];
    next = (next + 1) % positions.size();
  }
  auto futures = evaluator.submit(request);
  evaluator.flush();
  for (auto& future : futures) benchmark::DoNotOptimize(future.get());
}

// The network alone: one run of `batch` positions of zero/one planes.
void BM_RawSession(benchmark::State& state) {
  const int model = static_cast<int>(state.range(0));
  const int64_t batch = state.range(1);
  run_raw_network(state, kModels[model], batch);
  state.SetLabel(kModelLabels[model]);
}

// The evaluator's path: submit `batch` real positions (no cache), flush, wait.
void BM_EvaluatorSubmitFlush(benchmark::State& state) {
  const int model = static_cast<int>(state.range(0));
  const int32_t batch = static_cast<int32_t>(state.range(1));
  eval::Evaluator evaluator(Rule::Freestyle, kSide, kSide, {.batch_size = batch, .cache_capacity = 0});
  evaluator.load_model(kModels[model]);
  const std::vector<Board> positions = middle_games(256);
  size_t next = 0;
  std::vector<const Board*> request(static_cast<size_t>(batch));
  for (auto _ : state) evaluate_next(evaluator, request, positions, next);
  state.SetItemsProcessed(state.iterations() * batch);
  state.SetLabel(kModelLabels[model]);
}

void network_arguments(benchmark::internal::Benchmark* benchmark) {
  for (int model = 0; model < 3; ++model) {
    for (int batch : {1, 8, 16, 64}) benchmark->Args({model, batch});
  }
}
BENCHMARK(BM_RawSession)->Apply(network_arguments)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EvaluatorSubmitFlush)->Apply(network_arguments)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EvaluatorSubmitFlush)
    ->Args({kBuiltIn, 1})
    ->Args({kBuiltIn, 16})
    ->Args({kCodeNetwork, 1})
    ->Args({kCodeNetwork, 16})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EvaluatorSubmitFlush)->Args({kRandomMode, 8})->Unit(benchmark::kMicrosecond);

// How to spend the machine's two cores, with 16 positions in flight: two evaluators of
// one intra-op thread each, each fed 8 positions and flushed by its own thread (as two
// search threads would), against one evaluator of two intra-op threads fed 16 positions
// by one thread. range(0) is the number of evaluators, range(1) the network.
std::vector<std::unique_ptr<eval::Evaluator>> threading_evaluators;
std::vector<Board> threading_positions;

void set_up_threading(const benchmark::State& state) {
  const int evaluators = static_cast<int>(state.range(0));
  threading_positions = middle_games(256);
  for (int i = 0; i < evaluators; ++i) {
    const eval::EvaluatorOptions options{.device = {.intra_op_threads = static_cast<uint32_t>(2 / evaluators)},
                                         .batch_size = 16 / evaluators};
    threading_evaluators.push_back(std::make_unique<eval::Evaluator>(Rule::Freestyle, kSide, kSide, options));
    threading_evaluators.back()->load_model(kModels[state.range(1)]);
  }
}

void tear_down_threading(const benchmark::State&) { threading_evaluators.clear(); }

void BM_EvaluatorThreading(benchmark::State& state) {
  const int evaluators = static_cast<int>(state.range(0));
  eval::Evaluator& evaluator = *threading_evaluators[state.thread_index()];
  const int leaves = 16 / evaluators;
  size_t next = static_cast<size_t>(state.thread_index()) * 128;
  std::vector<const Board*> request(static_cast<size_t>(leaves));
  for (auto _ : state) evaluate_next(evaluator, request, threading_positions, next);
  state.SetItemsProcessed(state.iterations() * leaves);
  state.SetLabel(std::to_string(evaluators) + " evaluator(s) x " + std::to_string(2 / evaluators) +
                 " intra-op thread(s), " + kModelLabels[state.range(1)]);
}
BENCHMARK(BM_EvaluatorThreading)
    ->Setup(set_up_threading)
    ->Teardown(tear_down_threading)
    ->Args({1, 0})
    ->Args({1, 1})
    ->Threads(1)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EvaluatorThreading)
    ->Setup(set_up_threading)
    ->Teardown(tear_down_threading)
    ->Args({2, 0})
    ->Args({2, 1})
    ->Threads(2)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

void BM_BuildFeatures(benchmark::State& state) {
  const std::vector<Board> positions = middle_games(64);
  size_t next = 0;
  for (auto _ : state) {
    eval::FeatureMap features = eval::build_features(positions[next]);
    benchmark::DoNotOptimize(features.spatial_feature.data());
    eval::FeatureBufferPool::instance().release(std::move(features.spatial_feature));
    next = (next + 1) % positions.size();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BuildFeatures);

}  // namespace

}  // namespace tovan
