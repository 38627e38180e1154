// Slow, plainly written answers to what the board and the pattern tables compute fast:
// the classification of one line, the result, near counts and candidates of a position,
// and Renju forbidden points. Written from the game rules alone, without the board's
// helpers or tables, so that the tests compare two independent answers.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "board/board.h"
#include "board/pattern_codes.h"

namespace tovan {

namespace ref {

// A config from width and height (BoardConfig lists height first), and a move.
inline BoardConfig config(Rule rule, int width, int height, int area = 2, int line = 4) {
  return {.rule = rule, .height = height, .width = width, .area_candidate_range = area, .line_candidate_range = line};
}
inline Move at(int x, int y) { return Move{static_cast<int8_t>(x), static_cast<int8_t>(y)}; }

inline int state(const BoardConfig& c, const CellArray& cells, int x, int y) {
  if (x < 0 || y < 0 || x >= c.width || y >= c.height) return BLOCKED;
  return cells[y * 20 + x];
}

// ---- One line, as one player sees it around an empty centre: index 5 - k is k steps along
// the direction's step (DX, DY), index 5 + k is k steps the other way. Cells read EMPTY,
// kOwn, kOpponent or BLOCKED (blocked or off the board), as in a key.
using Line = std::array<int, 11>;
inline constexpr int kCentre = 5;
inline constexpr int kOwn = 1;
inline constexpr int kOpponent = 2;

inline Line line_at(const BoardConfig& c, const CellArray& cells, int x, int y, int d, int colour) {
  Line line{};
  for (int k = -5; k <= 5; ++k) {
    const int s = k == 0 ? EMPTY : state(c, cells, x + k * DX[d], y + k * DY[d]);
    line[kCentre - k] = s == BLACK || s == WHITE ? (s == colour ? kOwn : kOpponent) : s;
  }
  return line;
}

// Key bits 0..9 hold indices 0..4, bits 10..19 indices 6..10.
inline Line line_of(uint32_t key) {
  Line line{};
  for (int i = 0; i < 11; ++i) line[i] = i == kCentre ? EMPTY : (key >> (i < kCentre ? 2 * i : 2 * i - 2)) & 3;
  return line;
}
inline uint32_t key_of(const Line& line) {
  uint32_t key = 0;
  for (int i = 0; i < 11; ++i)
    key |= i == kCentre ? 0 : static_cast<uint32_t>(line[i]) << (i < kCentre ? 2 * i : 2 * i - 2);
  return key;
}
inline std::string drawing(const Line& line) {
  std::string text;
  for (int cell : line) text += ".XO#"[cell];
  return text;
}

// The rule class (pattern_codes.h) of a colour's lines under a rule.
inline int line_class(Rule rule, int colour) {
  if (rule == Rule::Renju) return colour == BLACK ? 1 : 0;
  return rule == Rule::Freestyle ? 0 : rule == Rule::Standard ? 1 : 2;
}

inline Line with_own(Line line, int i) {
  line[i] = kOwn;
  return line;
}

// The run of own stones through the centre once an own stone stands there.
struct Run {
  int first, last;
  int length() const { return last - first + 1; }
};
inline Run centre_run(const Line& line) {
  Run run{kCentre, kCentre};
  while (run.first > 0 && line[run.first - 1] == kOwn) --run.first;
  while (run.last < 10 && line[run.last + 1] == kOwn) ++run.last;
  return run;
}

// Whether an own stone on the centre wins in this line: class 0 five or more, 1 exactly
// five, 2 exactly five without an opponent stone at both ends.
inline bool wins(const Line& line, int rule_class) {
  const Run run = centre_run(line);
  if (rule_class == 0) return run.length() >= 5;
  if (run.length() != 5) return false;  // a run of exactly five never touches the window's ends
  return rule_class == 1 || line[run.first - 1] != kOpponent || line[run.last + 1] != kOpponent;
}

// The empty cells besides the centre where one more own stone makes `test` true.
template <typename Test>
std::vector<int> cells_where(const Line& line, Test test) {
  std::vector<int> cells;
  for (int i = 0; i < 11; ++i)
    if (i != kCentre && line[i] == EMPTY && test(with_own(line, i))) cells.push_back(i);
  return cells;
}

// Cells where a second own stone completes a winning line through the centre stone.
inline std::vector<int> winning_cells(const Line& line, int rule_class) {
  return cells_where(line, [&](const Line& next) { return wins(next, rule_class); });
}

// Four in a row through the centre with a winning empty cell at each end.
inline bool straight_four(const Line& line, int rule_class) {
  const Run run = centre_run(line);
  const auto winning = [&](int i) { return line[i] == EMPTY && wins(with_own(line, i), rule_class); };
  return run.length() == 4 && winning(run.first - 1) && winning(run.last + 1);
}

// Two fours in this one line: two winning cells that are not the ends of a straight four.
inline bool double_four(const Line& line, int rule_class) {
  const size_t winning = winning_cells(line, rule_class).size();
  return !wins(line, rule_class) && winning >= 2 && (winning > 2 || !straight_four(line, rule_class));
}

// Cells where one more own stone makes a straight four through the centre.
inline std::vector<int> straight_four_cells(const Line& line, int rule_class) {
  return cells_where(line, [&](const Line& next) { return straight_four(next, rule_class); });
}

// The strongest kind (its code bit: 2 five, 5 four, 6 open three ... 10 one) no weaker
// than `weakest`, else 11. From 6 on, kind k is one stone short of kind k - 2 (k - 1 for
// an open three, which becomes a straight four).
inline int strongest(const Line& line, int rule_class, int weakest = 10) {
  if (wins(line, rule_class)) return 2;
  if (!winning_cells(line, rule_class).empty()) return 5;
  for (int kind = 6; kind <= weakest; ++kind) {
    const auto stronger = [&](const Line& next) {
      return kind == 6 ? straight_four(next, rule_class) : strongest(next, rule_class, kind - 2) == kind - 2;
    };
    if (!cells_where(line, stronger).empty()) return kind;
  }
  return 11;
}

inline uint16_t code(const Line& line, int rule_class) {
  uint16_t bits = centre_run(line).length() >= 6 ? kOverline : 0;
  const int kind = strongest(line, rule_class);
  if (kind > 10) return bits;
  bits |= static_cast<uint16_t>(1 << kind);
  if (kind == 5 && straight_four(line, rule_class)) bits |= kStraightFour;
  if (kind == 5 && double_four(line, rule_class)) bits |= kDoubleFour;
  return bits;
}

// ---- Whole positions.

// Whether the stone on (x, y) stands in a winning line.
inline bool wins_at(const BoardConfig& c, const CellArray& cells, int x, int y) {
  const int colour = state(c, cells, x, y);
  if (colour != BLACK && colour != WHITE) return false;
  for (int d = 0; d < 4; ++d)
    if (wins(line_at(c, cells, x, y, d, colour), line_class(c.rule, colour))) return true;
  return false;
}

// How many stones' shapes cover each cell: the square of radius A, plus the eight rays
// out to distance L.
inline std::array<uint8_t, kCellCount> near_counts(const BoardConfig& c, const CellArray& cells) {
  std::array<uint8_t, kCellCount> counts{};
  for (int sy = 0; sy < c.height; ++sy)
    for (int sx = 0; sx < c.width; ++sx) {
      if (cells[sy * 20 + sx] != BLACK && cells[sy * 20 + sx] != WHITE) continue;
      const int reach = std::max(c.area_candidate_range, c.line_candidate_range);
      for (int y = std::max(0, sy - reach); y <= std::min(c.height - 1, sy + reach); ++y)
        for (int x = std::max(0, sx - reach); x <= std::min(c.width - 1, sx + reach); ++x) {
          const int dx = std::abs(x - sx), dy = std::abs(y - sy), k = std::max(dx, dy);
          if (k <= c.area_candidate_range || ((dx == 0 || dy == 0 || dx == dy) && k <= c.line_candidate_range))
            ++counts[y * 20 + x];
        }
    }
  return counts;
}

// Renju: whether Black may not play on the empty cell (x, y). A five is always allowed;
// an overline or two fours never; two threes only when at least two of them can become a
// straight four at a point that is not a five and is allowed itself. Four stones deep
// into that check, two threes count as forbidden unchecked.
inline bool forbidden(const BoardConfig& c, CellArray& cells, int x, int y, int depth = 0) {
  bool overline = false;
  int fours = 0, threes = 0;
  std::array<std::vector<Move>, 4> straight_four_points;
  for (int d = 0; d < 4; ++d) {
    const Line line = line_at(c, cells, x, y, d, BLACK);
    if (wins(line, 1)) return false;
    overline |= centre_run(line).length() >= 6;
    if (!winning_cells(line, 1).empty()) {
      fours += double_four(line, 1) ? 2 : 1;
      continue;
    }
    for (int i : straight_four_cells(line, 1))
      straight_four_points[d].push_back(at(x + (kCentre - i) * DX[d], y + (kCentre - i) * DY[d]));
    threes += !straight_four_points[d].empty();
  }
  if (overline || fours >= 2) return true;
  if (threes < 2 || depth >= 4) return threes >= 2;
  const auto allowed_four = [&](Move q) {
    for (int d = 0; d < 4; ++d)
      if (wins(line_at(c, cells, q.x, q.y, d, BLACK), 1)) return false;
    return !forbidden(c, cells, q.x, q.y, depth + 1);
  };
  cells[y * 20 + x] = BLACK;
  int real = 0;
  for (const auto& points : straight_four_points) real += std::any_of(points.begin(), points.end(), allowed_four);
  cells[y * 20 + x] = EMPTY;
  return real >= 2;
}

inline std::array<uint8_t, kCellCount> forbidden_map(const BoardConfig& c, CellArray cells) {
  std::array<uint8_t, kCellCount> map{};
  for (int y = 0; y < c.height; ++y)
    for (int x = 0; x < c.width; ++x) map[y * 20 + x] = cells[y * 20 + x] == EMPTY && forbidden(c, cells, x, y);
  return map;
}

// Empty cells near a stone (all empty cells while there is no stone), row by row, less
// the forbidden points under Renju with Black to move.
inline std::vector<Move> candidates(const BoardConfig& c, const CellArray& cells, int side_to_move) {
  const auto counts = near_counts(c, cells);
  const bool no_stones = std::none_of(cells.begin(), cells.end(), [](int8_t s) { return s == BLACK || s == WHITE; });
  CellArray scratch = cells;
  std::vector<Move> list;
  for (int y = 0; y < c.height; ++y)
    for (int x = 0; x < c.width; ++x)
      if (cells[y * 20 + x] == EMPTY && (no_stones || counts[y * 20 + x] > 0) &&
          !(c.rule == Rule::Renju && side_to_move == 0 && forbidden(c, scratch, x, y)))
        list.push_back(at(x, y));
  return list;
}

// The result of a position as a freshly built board judges it: the colour of the last
// winning stone in row-major order (0 Black, 1 White); else a full board is drawn (2);
// else, with no candidate for the side to move, the other side wins above 25 empty cells
// and it is a draw below. -1 while the game goes on.
inline int outcome(const BoardConfig& c, const CellArray& cells, int side_to_move) {
  int result = -1, empty = 0;
  for (int y = 0; y < c.height; ++y)
    for (int x = 0; x < c.width; ++x) {
      empty += cells[y * 20 + x] == EMPTY;
      if (wins_at(c, cells, x, y)) result = cells[y * 20 + x] - 1;
    }
  if (result >= 0) return result;
  if (empty == 0) return 2;
  if (candidates(c, cells, side_to_move).empty()) return empty > 25 ? side_to_move ^ 1 : 2;
  return -1;
}

}  // namespace ref

// Lets gtest print moves and move lists readably.
inline void PrintTo(const Move& move, std::ostream* os) { *os << move_text(move); }

}  // namespace tovan
