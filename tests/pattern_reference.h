// Slow reference classification of one line, written straight from the meaning of the
// pattern codes (pattern_codes.h) by trying every empty cell, with no tables and no
// shortcuts, so that the tests compare the generated tables against an independent answer.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "board/pattern_codes.h"

namespace pattern_ref {

// The eleven cells of a window. Index 5 is the centre (always empty); index 5 - k is
// window position p - k (k steps along the line's step, span offset +k) and index 5 + k
// is position p + k (span offset -k).
using Line = std::array<int, 11>;
inline constexpr int kCentre = 5;
inline constexpr int kEmpty = 0;
inline constexpr int kOwn = 1;
inline constexpr int kOpponent = 2;
inline constexpr int kOff = 3;

inline Line line_of(uint32_t key) {
  Line line{};
  for (int i = 0; i < 5; ++i) line[i] = (key >> (2 * i)) & 3;
  for (int i = 0; i < 5; ++i) line[6 + i] = (key >> (10 + 2 * i)) & 3;
  return line;
}

inline uint32_t key_of(const Line& line) {
  uint32_t key = 0;
  for (int i = 0; i < 5; ++i) key |= static_cast<uint32_t>(line[i]) << (2 * i);
  for (int i = 0; i < 5; ++i) key |= static_cast<uint32_t>(line[6 + i]) << (10 + 2 * i);
  return key;
}

// A key from a drawing such as "..XX.[.]X...." or "..XX.?X....": '.' empty, 'X' own,
// 'O' opponent, '#' off the board; the centre is '?' or the bracketed cell. Up to five
// cells on each side; missing ones are empty.
inline uint32_t key(std::string_view text) {
  std::vector<int> before, after;
  bool seen_centre = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '?' || c == '[') {
      if (c == '[') i += 2;  // skip ".]"
      seen_centre = true;
      continue;
    }
    const int state = c == '.' ? kEmpty : c == 'X' ? kOwn : c == 'O' ? kOpponent : c == '#' ? kOff : -1;
    if (state < 0) throw std::invalid_argument("bad cell in line drawing");
    (seen_centre ? after : before).push_back(state);
  }
  if (!seen_centre || before.size() > 5 || after.size() > 5) throw std::invalid_argument("bad line drawing");
  Line line{};
  for (size_t i = 0; i < before.size(); ++i) line[kCentre - before.size() + i] = before[i];
  for (size_t i = 0; i < after.size(); ++i) line[kCentre + 1 + i] = after[i];
  return key_of(line);
}

// The drawing of a key in the form key() reads, for failure messages.
inline std::string drawing(uint32_t key) {
  const Line line = line_of(key);
  std::string text;
  for (int i = 0; i < 11; ++i) text += i == kCentre ? std::string("[.]") : std::string(1, ".XO#"[line[i]]);
  return text;
}

inline Line mirrored(Line line) {
  std::reverse(line.begin(), line.end());
  return line;
}

// The run of own stones through the centre once an own stone stands there.
struct Run {
  int first;
  int last;
  int length() const { return last - first + 1; }
};

inline Run centre_run(Line line) {
  line[kCentre] = kOwn;
  Run run{kCentre, kCentre};
  while (run.first > 0 && line[run.first - 1] == kOwn) --run.first;
  while (run.last < 10 && line[run.last + 1] == kOwn) ++run.last;
  return run;
}

// Whether an own stone on the centre wins in this line under the rule class.
inline bool wins(const Line& line, int rule_class) {
  const Run run = centre_run(line);
  if (rule_class == 0) return run.length() >= 5;
  if (run.length() != 5) return false;
  // A run of exactly five through the centre never touches the window's ends.
  const bool closed = line[run.first - 1] == kOpponent && line[run.last + 1] == kOpponent;
  return rule_class == 1 || !closed;
}

inline Line with_own(Line line, int i) {
  line[i] = kOwn;
  return line;
}

inline std::vector<int> empty_cells(const Line& line) {
  std::vector<int> cells;
  for (int i = 0; i < 11; ++i) {
    if (i != kCentre && line[i] == kEmpty) cells.push_back(i);
  }
  return cells;
}

inline bool contains(const std::vector<int>& cells, int i) {
  return std::find(cells.begin(), cells.end(), i) != cells.end();
}

// Cells where a second own stone completes a winning line through the centre stone.
inline std::vector<int> winning_cells(const Line& line, int rule_class) {
  std::vector<int> cells;
  for (int i : empty_cells(line)) {
    if (wins(with_own(line, i), rule_class)) cells.push_back(i);
  }
  return cells;
}

// Four in a row through the centre with a winning empty cell at each end.
inline bool straight_four(const Line& line, int rule_class) {
  const Run run = centre_run(line);
  if (wins(line, rule_class) || run.length() != 4) return false;
  const std::vector<int> winning = winning_cells(line, rule_class);
  return contains(winning, run.first - 1) && contains(winning, run.last + 1);
}

inline bool double_four(const Line& line, int rule_class) {
  const std::vector<int> winning = winning_cells(line, rule_class);
  if (wins(line, rule_class) || winning.size() < 2) return false;
  if (!straight_four(line, rule_class)) return true;
  const Run run = centre_run(line);
  return winning != std::vector<int>{run.first - 1, run.last + 1};
}

// The strongest kind (its code bit: 2 five, 5 four, 6 open three ... 10 one) if it is
// at least as strong as `weakest`, otherwise 11.
inline int strongest(const Line& line, int rule_class, int weakest = 10) {
  if (wins(line, rule_class)) return 2;
  if (!winning_cells(line, rule_class).empty()) return 5;
  // Kind k from 6 on: one more stone somewhere makes the kind one step stronger (an open
  // three becomes a straight four, a three a four, an open two an open three, ...).
  for (int kind = 6; kind <= weakest; ++kind) {
    for (int i : empty_cells(line)) {
      const Line next = with_own(line, i);
      const bool stronger =
          kind == 6 ? straight_four(next, rule_class) : strongest(next, rule_class, kind - 2) == kind - 2;
      if (stronger) return kind;
    }
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

inline uint16_t code(uint32_t key, int rule_class) { return code(line_of(key), rule_class); }

// Cells where one more own stone makes a straight four through the centre.
inline std::vector<int> straight_four_cells(const Line& line, int rule_class) {
  std::vector<int> cells;
  for (int i : empty_cells(line)) {
    if (straight_four(with_own(line, i), rule_class)) cells.push_back(i);
  }
  return cells;
}

}  // namespace pattern_ref
