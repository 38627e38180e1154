// Pattern-table start-up and the Renju forbidden-point update.
#include <benchmark/benchmark.h>

#include "board/board.h"
#include "board/forbidden.h"
#include "board/pattern_tables.h"

namespace tovan {

namespace {

// Inflating the built-in table stream, as the engine does once before main.
void BM_LoadPatternTables(benchmark::State& state) {
  for (auto _ : state) {
    auto tables = load_pattern_tables();
    benchmark::DoNotOptimize(tables.get());
  }
}
BENCHMARK(BM_LoadPatternTables)->Unit(benchmark::kMillisecond);

// A crowded Renju position with Black to move: Black stones on a lattice of short
// diagonal-free runs and a few White stones, leaving about fifty cells flagged as double
// threes, each of which needs a full verification.
Board crowded_renju_position() {
  CellArray cells{};
  int stones = 0;
  for (int y = 2; y < 13; ++y) {
    for (int x = 2; x < 13; ++x) {
      const int phase = (x + 2 * y) % 6;
      if (phase <= 1) {
        cells[cell_index(x, y)] = BLACK;
        ++stones;
      } else if (phase == 3 && (x * y) % 3 == 0) {
        cells[cell_index(x, y)] = WHITE;
        ++stones;
      }
    }
  }
  return Board(
      BoardConfig{.rule = Rule::Renju, .height = 15, .width = 15, .area_candidate_range = 2, .line_candidate_range = 4},
      stones, cells, 0);
}

void BM_UpdateForbiddenCrowded(benchmark::State& state) {
  Board board = crowded_renju_position();
  int flagged = 0;
  for (const auto& flags : board.renju_flags()) flagged += flags[4];
  // Each update judges every cell afresh and replaces the whole map.
  for (auto _ : state) {
    update_forbidden(board);
    benchmark::DoNotOptimize(board.forbidden());
  }
  state.counters["flagged_cells"] = flagged;
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_UpdateForbiddenCrowded)->Unit(benchmark::kMillisecond);

}  // namespace

}  // namespace tovan
