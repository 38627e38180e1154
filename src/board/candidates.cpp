#include "board/candidates.h"

#include <algorithm>

#include "board/board.h"

namespace {

void add_to_shape(Board& board, int y, int x, int delta) {
  const int area = board.config.area_candidate_range;
  const int line = board.config.line_candidate_range;
  for (int cy = std::max(0, y - area); cy <= std::min(board.config.height - 1, y + area); ++cy) {
    for (int cx = std::max(0, x - area); cx <= std::min(board.config.width - 1, x + area); ++cx) {
      board.near_count[cell_index(cx, cy)] += delta;
    }
  }
  for (int d = 0; d < 8; ++d) {
    for (int k = area + 1; k <= line; ++k) {
      const int cx = x + k * DX[d];
      const int cy = y + k * DY[d];
      if (!board.on_board(cx, cy)) break;
      board.near_count[cell_index(cx, cy)] += delta;
    }
  }
}

}  // namespace

void add_neighbourhood(Board& board, int y, int x) { add_to_shape(board, y, x, +1); }

void remove_neighbourhood(Board& board, int y, int x) { add_to_shape(board, y, x, -1); }

void rebuild_candidates(Board& board) {
  board.candidates.clear();
  const bool skip_forbidden = board.config.rule == Rule::Renju && board.side_to_move == 0;
  for (int y = 0; y < board.config.height; ++y) {
    for (int x = 0; x < board.config.width; ++x) {
      const int index = cell_index(x, y);
      if (board.cells[index] != EMPTY) continue;
      if (board.near_count[index] == 0 && board.stone_count != 0) continue;
      if (skip_forbidden && board.forbidden[index]) continue;
      board.candidates.push_back(Move{static_cast<int8_t>(x), static_cast<int8_t>(y)});
    }
  }
}

int64_t max_stones_covering_one_cell(int64_t area_candidate_range, int64_t line_candidate_range) {
  // No line on a 20 x 20 board is longer than 20 cells, so larger ranges reach no further.
  const int64_t area = std::clamp<int64_t>(area_candidate_range, 0, kMaxSide - 1);
  const int64_t line = std::clamp<int64_t>(line_candidate_range, 0, kMaxSide - 1);
  const int64_t square = std::min<int64_t>((2 * area + 1) * (2 * area + 1), kCellCount);
  const int64_t rays = 8 * std::max<int64_t>(0, line - area);
  return square + rays;
}
