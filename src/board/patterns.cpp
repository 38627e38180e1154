#include "board/patterns.h"

#include "board/board.h"
#include "board/pattern_codes.h"
#include "board/pattern_tables.h"

namespace tovan {

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

// The key of the cell at `position` of a line word: the eleven positions centred on it,
// without the centre (bits 10 and 11 of the window).
uint32_t window_key(uint64_t word, int position) {
  const uint64_t window = (word >> (2 * position)) & 0x3FFFFF;
  return static_cast<uint32_t>((window & 0x3FF) | ((window >> 12) << 10));
}

// Index steps between neighbouring positions of the line words of each direction.
constexpr std::array<int, 4> kLineSteps = {1, kMaxSide + 1, kMaxSide, kMaxSide - 1};

// A line word as White reads it: the states 1 and 2 exchanged.
uint64_t swap_colours(uint64_t word) {
  const uint64_t swapped = ((word >> 1) ^ word) & 0x5555555555555555ULL;
  return word ^ swapped ^ (swapped << 1);
}

}  // namespace

// Marks or clears an empty cell in the five and four sets of both players from its codes.
void mark_threat_cells(Board& board, int index) {
  const uint64_t bit = uint64_t{1} << (index % 64);
  const int word = index / 64;
  for (int player = 0; player < 2; ++player) {
    const uint64_t codes = player == 0 ? board.black_codes()[index] : board.white_codes()[index];
    uint64_t& five = board.five_cells_[player][word];
    uint64_t& four = board.four_cells_[player][word];
    five = (five & ~bit) | ((codes & in_every_lane(kFive)) ? bit : 0);
    four = (four & ~bit) | ((codes & in_every_lane(kFour | kStraightFour | kDoubleFour)) ? bit : 0);
  }
}

// Writes an empty cell's codes, its Renju flags when the Black code changed, and its place
// in the five and four sets when a five or four bit changed (seldom).
inline void store_codes(Board& board, bool renju, int index, uint64_t black, uint64_t white) {
  constexpr uint64_t kThreatBits = in_every_lane(kFive | kFour | kStraightFour | kDoubleFour);
  const uint64_t old_black = board.black_codes_[index];
  const uint64_t old_white = board.white_codes_[index];
  if (renju && black != old_black) board.renju_flags_[index] = renju_flags_of(black);
  board.black_codes_[index] = black;
  board.white_codes_[index] = white;
  if (((old_black ^ black) | (old_white ^ white)) & kThreatBits) mark_threat_cells(board, index);
}

// Writes the lane at `shift` of an empty cell's codes.
inline void set_lane(Board& board, bool renju, int index, int shift, uint64_t black_code, uint64_t white_code) {
  const uint64_t keep = ~(uint64_t{0xFFFF} << shift);
  store_codes(board, renju, index, (board.black_codes_[index] & keep) | black_code << shift,
              (board.white_codes_[index] & keep) | white_code << shift);
}

// Refreshes the lanes of the empty cells up to five steps from (x, y) along its four lines:
// a code depends on the five positions on each side in its own line, so no other can
// change. Each line's word is read once; off-board positions read BLOCKED, so only
// empty cells pass. (Looking up every position's code and writing only the empty cells',
// without the branch, was slower: the extra lookups miss the cache.)
template <bool kRenju, bool kRecord>
void refresh_lines(Board& board, int y, int x, const uint8_t* black_table, const uint8_t* white_table,
                   CodeRecord* record) {
  const int index = cell_index(x, y);
  for (int d = 0; d < 4; ++d) {
    const uint64_t word = line_word(board, x, y, d);
    const uint64_t white_word = swap_colours(word);
    const int centre = line_position(x, y, d);
    for (int k = -5; k <= 5; ++k) {
      const int position = centre + k;
      if (((word >> (2 * position + 10)) & 3) != EMPTY) continue;
      const int cell = index + k * kLineSteps[d];
      if constexpr (kRecord) {
        CodeRecord::Cell& kept = record->cells[record->count++];
        kept.index = cell;
        kept.black_codes = board.black_codes()[cell];
        kept.white_codes = board.white_codes()[cell];
        if constexpr (kRenju) kept.renju_flags = board.renju_flags()[cell];
      }
      set_lane(board, kRenju, cell, 16 * d, code_in(black_table, window_key(word, position)),
               code_in(white_table, window_key(white_word, position)));
    }
  }
}

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
  return window_key(line_word(board, x, y, d), line_position(x, y, d));
}

void refresh_cell_lane(Board& board, int y, int x, int d) {
  if (!board.on_board(x, y) || board.cell(x, y) != EMPTY) return;
  const Rule rule = board.config().rule;
  const uint32_t key = line_key(board, x, y, d);
  set_lane(board, rule == Rule::Renju, cell_index(x, y), 16 * d, pattern_code(rule_class(rule, 0), key),
           pattern_code(rule_class(rule, 1), white_key(key)));
}

void refresh_around(Board& board, int y, int x, CodeRecord* record) {
  const Rule rule = board.config().rule;
  const uint8_t* black_table = pattern_code_table(rule_class(rule, 0));
  const uint8_t* white_table = pattern_code_table(rule_class(rule, 1));
  const int index = cell_index(x, y);
  if (record != nullptr) {
    record->count = 0;
    record->five_cells = board.five_cells_;
    record->four_cells = board.four_cells_;
    if (rule == Rule::Renju) {
      refresh_lines<true, true>(board, y, x, black_table, white_table, record);
    } else {
      refresh_lines<false, true>(board, y, x, black_table, white_table, record);
    }
    if (board.cells()[index] != EMPTY) {
      record->cells[record->count++] = {index, board.renju_flags_[index], board.black_codes_[index],
                                        board.white_codes_[index]};
    }
  } else if (rule == Rule::Renju) {
    refresh_lines<true, false>(board, y, x, black_table, white_table, nullptr);
  } else {
    refresh_lines<false, false>(board, y, x, black_table, white_table, nullptr);
  }
  if (board.cells()[index] != EMPTY) {
    board.black_codes_[index] = 0;
    board.white_codes_[index] = 0;
    board.renju_flags_[index] = {};
    mark_threat_cells(board, index);
  }
}

void restore_codes(Board& board, const CodeRecord& record) {
  // Every cell is kept once, so the order does not matter. Renju flags are kept under
  // Renju only: under the other rules they stay cleared.
  const bool renju = board.config().rule == Rule::Renju;
  for (int i = 0; i < record.count; ++i) {
    const CodeRecord::Cell& cell = record.cells[i];
    board.black_codes_[cell.index] = cell.black_codes;
    board.white_codes_[cell.index] = cell.white_codes;
    if (renju) board.renju_flags_[cell.index] = cell.renju_flags;
  }
  board.five_cells_ = record.five_cells;
  board.four_cells_ = record.four_cells;
}

}  // namespace tovan
