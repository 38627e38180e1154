// Board update speed: one play and its undo from a middle-game position, per rule and
// board size, and the cost of copying a board (as a search does for each worker).
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "board/board.h"

namespace tovan {

namespace {

// About 30 stones from a fixed-seed random game with no five, under the shipped
// candidate ranges (area 2, line 4).
Board middle_game(Rule rule, int size) {
  Board board(
      BoardConfig{.rule = rule, .height = size, .width = size, .area_candidate_range = 2, .line_candidate_range = 4}, 0,
      CellArray{}, 0);
  std::mt19937 rng(2024);
  while (board.stone_count() < 30) {
    const Move move = board.candidates()[rng() % board.candidates().size()];
    board.play(move);
    if (board.game_over()) board.undo(move, true);
  }
  return board;
}

void BM_PlayUndo(benchmark::State& state) {
  Board board = middle_game(static_cast<Rule>(state.range(0)), static_cast<int>(state.range(1)));
  const std::vector<Move> moves = board.candidates();
  size_t next = 0;
  for (auto _ : state) {
    const Move move = moves[next];
    next = next + 1 == moves.size() ? 0 : next + 1;
    board.play(move);
    board.undo(move, true);
    benchmark::DoNotOptimize(board.hash());
  }
  state.SetItemsProcessed(state.iterations());
  state.SetLabel(std::string(rule_name(board.config().rule)) + " " + std::to_string(board.config().width) + "x" +
                 std::to_string(board.config().height));
}
BENCHMARK(BM_PlayUndo)->ArgsProduct({{0, 1, 2, 3}, {15, 20}});

void BM_CopyBoard(benchmark::State& state) {
  const Board board = middle_game(Rule::Freestyle, static_cast<int>(state.range(0)));
  for (auto _ : state) {
    Board copy = board;
    benchmark::DoNotOptimize(copy);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(sizeof(Board)));
}
BENCHMARK(BM_CopyBoard)->Arg(15)->Arg(20);

}  // namespace

}  // namespace tovan
