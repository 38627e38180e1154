// Positions for the benchmarks: random moves among the candidates from a fixed seed.
#pragma once

#include <cstdint>
#include <random>

#include "board/board.h"

namespace tovan {

// An empty Freestyle board, `side` x `side`, with the shipped candidate ranges.
inline Board empty_board(int32_t side) {
  return Board(BoardConfig{.rule = Rule::Freestyle,
                           .height = side,
                           .width = side,
                           .area_candidate_range = 2,
                           .line_candidate_range = 4},
               0, CellArray{}, 0);
}

// Random candidates played until the board holds `stones` stones, none ending the game.
inline void play_random_moves(Board& board, std::mt19937& rng, uint32_t stones) {
  while (board.stone_count() < stones) {
    const Move move = board.candidates()[rng() % board.candidates().size()];
    board.play(move);
    if (board.game_over()) board.undo(move, true);
  }
}

}  // namespace tovan
