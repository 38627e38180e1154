#include "board/patterns.h"

#include "board/board.h"
#include "board/pattern_codes.h"
#include "board/pattern_tables.h"

namespace {

std::array<uint8_t, 5> renju_flags_of(uint64_t black_codes) {
  int fours = 0;
  int open_threes = 0;
  bool overline = false;
  bool five = false;
  bool straight_four = false;
  bool double_four_in_line = false;
  for (int d = 0; d < 4; ++d) {
    const uint16_t code = code_lane(black_codes, d);
    overline |= (code & kOverline) != 0;
    five |= (code & kFive) != 0;
    straight_four |= (code & kStraightFour) != 0;
    double_four_in_line |= (code & kDoubleFour) != 0;
    fours += (code & kFour) != 0;
    open_threes += (code & kOpenThree) != 0;
  }
  return {overline, five, straight_four, double_four_in_line || fours >= 2, open_threes >= 2};
}

}  // namespace

uint64_t line_word(const Board& board, int x, int y, int d) {
  switch (d) {
    case 0:
      return board.row_lines()[y];
    case 1:
      return board.diff_lines()[y - x + kMaxSide - 1];
    case 2:
      return board.col_lines()[x];
    default:
      return board.sum_lines()[x + y];
  }
}

int line_position(int x, int y, int d) { return d == 0 ? x : y; }

void toggle_line_words(Board& board, int x, int y, uint64_t bits) {
  // The words of line_word, at line_position: x in the row, y in the other three.
  board.row_lines_[y] ^= bits << (2 * x + 10);
  board.diff_lines_[y - x + kMaxSide - 1] ^= bits << (2 * y + 10);
  board.col_lines_[x] ^= bits << (2 * y + 10);
  board.sum_lines_[x + y] ^= bits << (2 * y + 10);
}

uint32_t line_key(const Board& board, int x, int y, int d) {
  const uint64_t window = (line_word(board, x, y, d) >> (2 * line_position(x, y, d))) & 0x3FFFFF;
  // The key drops the centre cell (bits 10 and 11 of the window).
  return static_cast<uint32_t>((window & 0x3FF) | ((window >> 12) << 10));
}

void refresh_cell_lane(Board& board, int y, int x, int d) {
  if (!board.on_board(x, y) || board.cell(x, y) != EMPTY) return;
  const int index = cell_index(x, y);
  const uint32_t key = line_key(board, x, y, d);
  const int shift = 16 * d;
  const uint64_t keep = ~(uint64_t{0xFFFF} << shift);
  const Rule rule = board.config().rule;

  const uint64_t black = (board.black_codes_[index] & keep) | uint64_t{pattern_code(rule_class(rule, 0), key)} << shift;
  if (black != board.black_codes_[index]) {
    if (rule == Rule::Renju) board.renju_flags_[index] = renju_flags_of(black);
    board.black_codes_[index] = black;
  }
  board.white_codes_[index] =
      (board.white_codes_[index] & keep) | uint64_t{pattern_code(rule_class(rule, 1), white_key(key))} << shift;
}

void refresh_around(Board& board, int y, int x) {
  const int index = cell_index(x, y);
  if (board.cells()[index] != EMPTY) {
    board.black_codes_[index] = 0;
    board.white_codes_[index] = 0;
    board.renju_flags_[index] = {};
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
