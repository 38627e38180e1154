// Slow, plainly written re-derivations of what the board keeps incrementally: the winner
// of a position, the candidate list, the near counts, the Zobrist hash and the line
// words. Written from the game rules alone, without the board's own helpers, so that the
// tests compare two independent answers.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "board/board.h"

namespace ref {

// Shorthands: a config from width and height (BoardConfig lists height first) and a move.
inline BoardConfig config(Rule rule, int width, int height, int area = 2, int line = 4) {
  return BoardConfig{rule, height, width, area, line};
}
inline Move at(int x, int y) { return Move{static_cast<int8_t>(x), static_cast<int8_t>(y)}; }

inline int state(const BoardConfig& c, const CellArray& cells, int x, int y) {
  if (x < 0 || y < 0 || x >= c.width || y >= c.height) return BLOCKED;
  return cells[y * 20 + x];
}

// Whether the stone on (x, y) wins. Lines: row, y - x constant, column, x + y constant.
inline bool wins(const BoardConfig& c, const CellArray& cells, int x, int y) {
  const int colour = state(c, cells, x, y);
  if (colour != BLACK && colour != WHITE) return false;
  const int opponent = colour == BLACK ? WHITE : BLACK;
  const int steps[4][2] = {{1, 0}, {1, 1}, {0, 1}, {-1, 1}};
  for (const auto& s : steps) {
    // Walk back to the first stone of the run, then forward to its end.
    int bx = x, by = y;
    while (state(c, cells, bx - s[0], by - s[1]) == colour) bx -= s[0], by -= s[1];
    int length = 0;
    int ex = bx, ey = by;
    while (state(c, cells, ex, ey) == colour) ex += s[0], ey += s[1], ++length;
    const bool before_blocked = state(c, cells, bx - s[0], by - s[1]) == opponent;
    const bool after_blocked = state(c, cells, ex, ey) == opponent;
    switch (c.rule) {
      case Rule::Freestyle:
        if (length >= 5) return true;
        break;
      case Rule::Standard:
        if (length == 5) return true;
        break;
      case Rule::Renju:
        if (length == 5 || (length > 5 && colour == WHITE)) return true;
        break;
      case Rule::StandardCaro:
        if (length == 5 && !(before_blocked && after_blocked)) return true;
        break;
    }
  }
  return false;
}

struct Outcome {
  bool over = false;
  int winner = 0;  // 0 Black, 1 White, 2 draw
  friend bool operator==(const Outcome&, const Outcome&) = default;
};

// How many stones' shapes cover each cell (the square of radius A plus the eight rays
// from distance A + 1 to L), for every cell of the 20 x 20 array.
inline std::array<uint8_t, kCellCount> near_counts(const BoardConfig& c, const CellArray& cells) {
  std::array<uint8_t, kCellCount> counts{};
  const int a = c.area_candidate_range, l = c.line_candidate_range;
  const int reach = std::max(a, l);
  for (int sy = 0; sy < c.height; ++sy)
    for (int sx = 0; sx < c.width; ++sx) {
      const int s = cells[sy * 20 + sx];
      if (s != BLACK && s != WHITE) continue;
      for (int y = std::max(0, sy - reach); y < std::min(c.height, sy + reach + 1); ++y)
        for (int x = std::max(0, sx - reach); x < std::min(c.width, sx + reach + 1); ++x) {
          const int dx = std::abs(x - sx), dy = std::abs(y - sy);
          const int k = std::max(dx, dy);
          const bool on_ray = dx == 0 || dy == 0 || dx == dy;
          if (k <= a || (on_ray && k <= l)) ++counts[y * 20 + x];
        }
    }
  return counts;
}

inline int stones(const BoardConfig& c, const CellArray& cells) {
  int n = 0;
  for (int y = 0; y < c.height; ++y)
    for (int x = 0; x < c.width; ++x) n += state(c, cells, x, y) == BLACK || state(c, cells, x, y) == WHITE;
  return n;
}

inline std::vector<Move> candidates(const BoardConfig& c, const CellArray& cells) {
  const auto counts = near_counts(c, cells);
  const bool no_stones = stones(c, cells) == 0;
  std::vector<Move> list;
  for (int y = 0; y < c.height; ++y)
    for (int x = 0; x < c.width; ++x)
      if (cells[y * 20 + x] == EMPTY && (no_stones || counts[y * 20 + x] > 0)) list.push_back(at(x, y));
  return list;
}

// The result of a position as a freshly built board judges it: the colour of the last
// winning stone in row-major order; else a full board is drawn; else, with no candidate
// for the side to move, the other side wins above 25 empty cells and it is a draw below.
inline Outcome outcome(const BoardConfig& c, const CellArray& cells, int side_to_move) {
  Outcome o;
  int empty = 0;
  for (int y = 0; y < c.height; ++y)
    for (int x = 0; x < c.width; ++x) {
      empty += cells[y * 20 + x] == EMPTY;
      if (wins(c, cells, x, y)) o = {true, cells[y * 20 + x] - 1};
    }
  if (o.over) return o;
  if (empty == 0) return {true, 2};
  if (candidates(c, cells).empty()) return {true, empty > 25 ? side_to_move ^ 1 : 2};
  return o;
}

inline uint64_t hash(const BoardConfig& c, const CellArray& cells, int side_to_move) {
  std::mt19937_64 gen(42);
  auto key = [&gen] { return gen() ^ 0x8000000000000000ull; };
  uint64_t rule_keys[4], cell_keys[400][3], size_keys[21];
  for (auto& k : rule_keys) k = key();
  for (auto& cell : cell_keys)
    for (auto& k : cell) k = key();
  for (auto& k : size_keys) k = key();
  uint64_t h = static_cast<uint64_t>(side_to_move) ^ rule_keys[static_cast<int>(c.rule)] ^ size_keys[c.height];
  if (c.width != c.height) h ^= size_keys[c.width];
  for (int y = 0; y < c.height; ++y)
    for (int x = 0; x < c.width; ++x)
      if (cells[y * 20 + x] != EMPTY) h ^= cell_keys[y * 20 + x][cells[y * 20 + x] - 1];
  return h;
}

struct Lines {
  std::array<uint64_t, 20> row, col;
  std::array<uint64_t, 39> sum, diff;
};

// Position p of a word sits at bits 2p + 10; every position that is not a cell of the
// board (bits 0..9 included) reads 3.
inline Lines lines(const BoardConfig& c, const CellArray& cells) {
  auto word = [&](auto cell_at) {
    uint64_t w = 0x3FF;
    for (int p = 0; 2 * p + 10 < 64; ++p) w |= static_cast<uint64_t>(cell_at(p)) << (2 * p + 10);
    return w;
  };
  Lines l;
  for (int i = 0; i < 20; ++i) {
    l.row[i] = word([&](int p) { return state(c, cells, p, i); });
    l.col[i] = word([&](int p) { return state(c, cells, i, p); });
  }
  for (int i = 0; i < 39; ++i) {
    l.sum[i] = word([&](int p) { return state(c, cells, i - p, p); });
    l.diff[i] = word([&](int p) { return state(c, cells, p - (i - 19), p); });
  }
  return l;
}

// A position from a picture: one string per row from y = 0, 'X' Black, 'O' White,
// '#' blocked, anything else empty. Rows and cells not drawn are empty.
inline CellArray picture(const std::vector<std::string>& rows) {
  CellArray cells{};
  for (size_t y = 0; y < rows.size(); ++y)
    for (size_t x = 0; x < rows[y].size(); ++x) {
      const char ch = rows[y][x];
      cells[y * 20 + x] = ch == 'X' ? BLACK : ch == 'O' ? WHITE : ch == '#' ? BLOCKED : EMPTY;
    }
  return cells;
}

}  // namespace ref

// Lets gtest print moves and move lists readably.
inline void PrintTo(const Move& move, std::ostream* os) { *os << move_text(move); }
