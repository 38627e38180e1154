// Candidate moves: the empty cells near stones that the side to move may consider.
//
// Every stone adds one to the near_count of each cell of its shape: the square of radius
// area_candidate_range around it and, beyond the square, the eight rays out to
// line_candidate_range. A cell is near when its count is non-zero.
#pragma once

#include <cstdint>

namespace tovan {

class Board;

void add_neighbourhood(Board& board, int y, int x);
void remove_neighbourhood(Board& board, int y, int x);

// Refills board.candidates in row-major order: empty cells that are near a stone (every
// empty cell when the board holds no stone), minus Renju forbidden points for Black.
void rebuild_candidates(Board& board);

// The largest number of stones whose shapes can cover one cell of a 20 x 20 board with
// these ranges; near_count is 8 bits wide, so this must stay below 256.
int64_t max_stones_covering_one_cell(int64_t area_candidate_range, int64_t line_candidate_range);

}  // namespace tovan
