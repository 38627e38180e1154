#include "board/patterns.h"

#include "board/board.h"

uint64_t& line_word(Board& board, int x, int y, int d) {
  switch (d) {
    case 0:
      return board.row_lines[y];
    case 1:
      return board.diff_lines[y - x + kMaxSide - 1];
    case 2:
      return board.col_lines[x];
    default:
      return board.sum_lines[x + y];
  }
}

int line_position(int x, int y, int d) { return d == 0 ? x : y; }

void toggle_line_words(Board& board, int x, int y, uint64_t bits) {
  for (int d = 0; d < 4; ++d) {
    line_word(board, x, y, d) ^= bits << (2 * line_position(x, y, d) + 10);
  }
}

void refresh_cell_lane(Board& board, int y, int x, int d) {
  if (!board.on_board(x, y) || board.cell(x, y) != EMPTY) return;
  // No pattern table yet: every lane of an empty cell reads "no pattern".
  const uint64_t lane_mask = ~(uint64_t{0xFFFF} << (16 * d));
  board.black_codes[cell_index(x, y)] &= lane_mask;
  board.white_codes[cell_index(x, y)] &= lane_mask;
}

void refresh_around(Board& board, int y, int x) {
  const int index = cell_index(x, y);
  if (board.cells[index] != EMPTY) {
    board.black_codes[index] = 0;
    board.white_codes[index] = 0;
    board.renju_flags[index] = {};
  } else {
    for (int d = 0; d < 4; ++d) refresh_cell_lane(board, y, x, d);
  }
  // A code depends on the five positions on each side in its own line, so only the cells
  // up to five steps away along the four lines can change.
  for (int k = -5; k <= 5; ++k) {
    if (k == 0) continue;
    refresh_cell_lane(board, y, x - k, 0);
    refresh_cell_lane(board, y - k, x - k, 1);
    refresh_cell_lane(board, y - k, x, 2);
    refresh_cell_lane(board, y - k, x + k, 3);
  }
}
