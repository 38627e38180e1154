#include "app/bench.h"

#include <cstdio>
#include <string>
#include <vector>

#include "app/output.h"
#include "config/config_file.h"
#include "protocol/game_engine.h"
#include "search/clock.h"
#include "search/decision.h"
#include "search/mcts.h"

namespace tovan::app {

namespace {

constexpr float kBenchVisits = 1500.0f;
constexpr int32_t kSearchBatch = 8;
constexpr int kSide = 15;
// One uncached evaluator on the CPU.
const eval::EvaluatorOptions kBenchEvaluator{.batch_size = kSearchBatch, .cache_capacity = 0};

struct BenchPosition {
  const char* rule;
  std::vector<Move> moves;  // played in order from the empty board, Black first
};

// Openings and middle games of each rule on 15 x 15.
const std::vector<BenchPosition>& bench_positions() {
  static const std::vector<BenchPosition> positions = {
      {"Freestyle", {{7, 7}}},
      {"Freestyle", {{7, 7}, {8, 8}, {7, 8}, {7, 9}, {6, 7}, {8, 7}, {5, 6}}},
      {"Freestyle", {{7, 7}, {8, 6}, {6, 8}, {8, 8}, {8, 7}, {6, 6}, {9, 6}, {10, 5}, {5, 9}, {4, 10}}},
      {"Standard", {{7, 7}, {7, 8}, {8, 8}, {6, 6}, {9, 9}}},
      {"Standard", {{7, 7}, {8, 7}, {6, 8}, {9, 6}, {5, 9}, {4, 10}, {8, 9}, {9, 9}, {6, 7}}},
      {"Renju", {{7, 7}, {8, 8}, {8, 6}}},
      {"Renju", {{7, 7}, {7, 8}, {8, 7}, {9, 6}, {6, 8}, {5, 9}, {8, 9}, {6, 6}, {9, 8}}},
      {"StandardCaro", {{7, 7}, {7, 6}, {8, 8}, {6, 6}}},
      {"StandardCaro", {{7, 7}, {8, 8}, {6, 8}, {8, 6}, {8, 7}, {6, 7}, {9, 8}, {10, 9}}},
  };
  return positions;
}

// FNV-1a over the bytes of one value.
void mix(uint64_t& hash, uint64_t value) {
  for (int i = 0; i < 8; ++i) {
    hash ^= (value >> (8 * i)) & 0xFF;
    hash *= 0x100000001B3ULL;
  }
}

int32_t most_visited(search::Node& root) {
  const std::vector<float> visits = root.get_visits_by_action();
  int32_t best = 0;
  for (size_t a = 1; a < visits.size(); ++a) {
    if (visits[a] > visits[best]) best = static_cast<int32_t>(a);
  }
  return best;
}

}  // namespace

int run_bench(const config::Settings& settings) {
  uint64_t signature = 0xCBF29CE484222325ULL;
  double total_visits = 0.0;
  int64_t search_ns = 0;
  for (const BenchPosition& position : bench_positions()) {
    const Rule rule = rule_by_name(position.rule);
    // One uncached evaluator on the CPU and one search thread keep the result the same on
    // every run.
    const search::Engine engine =
        search::build_engine({.rule = rule,
                              .width = kSide,
                              .height = kSide,
                              .model_path = settings.model_path(rule, kSide, kSide),
                              .evaluator = kBenchEvaluator,
                              .device_ids = {0},
                              .search = {.threads = 1, .batch_size = kSearchBatch},
                              .threats = search::tree_threats(settings.decision.threats)});
    search::MCTS& search = *engine.search;
    Board board(settings.board_config(rule, kSide, kSide), 0, CellArray{}, 0);
    for (Move move : position.moves) board.play(move);

    const int64_t start = search::monotonic_ns();
    search.set_root(settings.node_config, board, settings.decision.root_temperature, false, false);
    search.search({.visits_limit = kBenchVisits, .seconds = 1e6f});
    search_ns += search::monotonic_ns() - start;

    search::Node& root = *search.root();
    const Move best = board.candidates()[most_visited(root)];
    const float visits = root.get_visits();
    total_visits += visits;
    mix(signature, static_cast<uint64_t>(best.x) | static_cast<uint64_t>(best.y) << 8);
    mix(signature, static_cast<uint64_t>(visits));
    say("bench: " + std::string(position.rule) + " after " + std::to_string(position.moves.size()) + " moves: best " +
        std::to_string(best.x) + "," + std::to_string(best.y) + ", " + std::to_string(static_cast<int64_t>(visits)) +
        " visits");
  }
  char line[128];
  std::snprintf(line, sizeof line, "bench: %.0f visits in %.2f s, %.0f visits per second", total_visits,
                static_cast<double>(search_ns) / 1e9, total_visits / (static_cast<double>(search_ns) / 1e9));
  say(line);
  std::snprintf(line, sizeof line, "bench signature: %016llx", static_cast<unsigned long long>(signature));
  say(line);
  return 0;
}

}  // namespace tovan::app
