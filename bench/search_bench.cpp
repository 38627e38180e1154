// Search throughput: visits per second of whole searches from a 15 x 15 middle-game
// position (20 stones of a fixed-seed random game), with one and two search threads and
// search batches of 1, 8 and 16. Each search thread has its own evaluator (one intra-op
// thread, network batch 16, no cache, so that every leaf reaches the network), as the
// shipped configuration sets it up on two cores. Next to it in the same run: the network
// alone at the same batch size, and the same searches in random mode, where no network
// runs, so that the search's own cost per visit can be set against the network's cost per
// position; the built-in pattern evaluator (no cache either); and random mode with the
// solver at new positions, as the engine searches.
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
#include "search/engine.h"
#include "search/mcts.h"

namespace tovan {

namespace {

constexpr int kSide = 15;
constexpr int kChannels = 40;
constexpr float kVisitsPerSearch = 512.0f;
const eval::EvaluatorOptions kEvaluator{.batch_size = 16, .cache_capacity = 0};

const char* const kModels[] = {"random", TOVAN_MODEL_DIR "/freestyle.onnx", TOVAN_BENCH_MODEL_DIR "/resnet_6x64.onnx",
                               TOVAN_MODEL_DIR "/freestyle.weights", TOVAN_BENCH_MODEL_DIR "/freestyle.codenet"};
const char* const kModelLabels[] = {"random mode", "pattern", "resnet 6x64", "built-in pattern", "code network"};

Board middle_game() {
  std::mt19937 rng(7);
  Board board = empty_board(kSide);
  board.play(Move{7, 7});
  play_random_moves(board, rng, 20);
  return board;
}

search::NodeConfig shipped_constants() { return search::make_node_config(1.6f, 1.0f, 0.1f, 0.3f); }

std::string label(int model, int threads, int batch) {
  return std::string(kModelLabels[model]) + ", " + std::to_string(threads) + " thread(s), batch " +
         std::to_string(batch);
}

// One iteration is one search of kVisitsPerSearch visits from a fresh root; installing
// the root (and dropping the last tree) is not timed. tree_nodes as threats.tree_nodes
// (0: no solver at new positions).
void search_visits(benchmark::State& state, int model, int threads, int batch, int64_t tree_nodes) {
  const search::Engine engine =
      search::build_engine({.rule = Rule::Freestyle,
                            .width = kSide,
                            .height = kSide,
                            .model_path = kModels[model],
                            .evaluator = kEvaluator,
                            .device_ids = std::vector<uint32_t>(static_cast<size_t>(threads), 0),
                            .search = {.threads = threads, .batch_size = batch},
                            .threats = {.vcf = {tree_nodes, 30, 0}}});
  search::MCTS& search = *engine.search;
  const Board board = middle_game();
  const search::SearchLimits limits{.visits_limit = kVisitsPerSearch, .seconds = 600.0f};
  int64_t visits = 0;
  for (auto _ : state) {
    state.PauseTiming();
    search.set_root(shipped_constants(), board, 1.0f, false, false);
    state.ResumeTiming();
    search.search(limits);
    visits += static_cast<int64_t>(search.root()->get_visits()) - 1;
  }
  state.SetItemsProcessed(visits);
  state.SetLabel(label(model, threads, batch) + (tree_nodes == 0 ? "" : ", solver at new positions"));
}

// range(0): model (0 random mode, 1 pattern, 2 resnet 6x64, 3 built-in pattern),
// range(1): search threads, range(2): search batch.
void BM_SearchVisits(benchmark::State& state) {
  search_visits(state, static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                static_cast<int>(state.range(2)), 0);
}

void search_arguments(benchmark::internal::Benchmark* benchmark) {
  for (int model = 0; model < 5; ++model) {
    for (int threads : {1, 2}) {
      for (int batch : {1, 8, 16}) benchmark->Args({model, threads, batch});
    }
  }
}
BENCHMARK(BM_SearchVisits)->Apply(search_arguments)->UseRealTime()->Unit(benchmark::kMillisecond);

// Random mode with the shipped solver at new positions (threats.tree_nodes 200, max_fours
// 30), as the engine searches: the search's own cost per visit, the solver included.
// range(0): search threads; batch 8.
void BM_SearchVisitsTreeSolver(benchmark::State& state) {
  search_visits(state, 0, static_cast<int>(state.range(0)), 8, 200);
}
BENCHMARK(BM_SearchVisitsTreeSolver)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);

// The network alone, one intra-op thread: one run of `batch` positions of 0/1 planes.
void BM_RawNetwork(benchmark::State& state) {
  const int model = static_cast<int>(state.range(0));
  const int64_t batch = state.range(1);
  run_raw_network(state, kModels[model], batch);
  state.SetLabel(std::string(kModelLabels[model]) + ", batch " + std::to_string(batch));
}
BENCHMARK(BM_RawNetwork)->ArgsProduct({{1, 2}, {1, 8, 16}})->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

}  // namespace tovan
