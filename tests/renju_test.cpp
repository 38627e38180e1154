// Renju forbidden points on drawn positions: overlines, double fours and double threes,
// the exceptions for fives and four-threes, threes that cannot really become a straight
// four, and what the verification may and may not leave behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "board/board.h"
#include "board/forbidden.h"

namespace {

// A drawing of up to 9 x 9 cells (an empty string is an empty row) placed at (3, 3) on a
// 15 x 15 board: '.' empty, 'X' Black, 'O' White, '?' the empty cell under test.
struct Drawn {
  Board board;
  int index;  // the '?' cell
};

Drawn drawn(const std::vector<std::string>& rows, int side, Rule rule = Rule::Renju) {
  CellArray cells{};
  int stones = 0, index = -1;
  for (int y = 0; y < static_cast<int>(rows.size()); ++y) {
    for (int x = 0; x < static_cast<int>(rows[y].size()); ++x) {
      const int i = cell_index(x + 3, y + 3);
      const char c = rows[y][x];
      if (c == '?') index = i;
      if (c == 'X' || c == 'O') cells[i] = c == 'X' ? BLACK : WHITE, ++stones;
    }
  }
  return Drawn{Board(BoardConfig{rule, 15, 15, 2, 4}, stones, cells, side), index};
}

bool is_candidate(const Board& board, int index) {
  return std::any_of(board.candidates.begin(), board.candidates.end(),
                     [&](Move m) { return cell_index(m.x, m.y) == index; });
}

struct Case {
  const char* name;
  std::vector<std::string> rows;
  bool forbidden;
};

// Black to move in every case; the Renju flags come from the line codes, the final
// answer from the verification.
const Case kCases[] = {
    {"overline", {"", "", "", "", ".XXX?XX.."}, true},
    {"double four in one line", {"", "", "", "", ".X.X?X.X."}, true},
    {"double four in one line, pairs at the ends", {"", "", "", "", "XX.?X.XX."}, true},
    {"double four in two lines", {"....O....", "....X....", "....X....", "....X....", "OXXX?...."}, true},
    {"four-three", {"", "", "....X....", "....X....", "OXXX?...."}, false},
    {"five with an overline",
     {"", "", "....X....", "....X....", "XXXX?....", "....X....", "....X....", "....X...."},
     false},
    {"five with a double four",
     {"", "....X....", ".........", "....X....", "XXXX?....", "....X....", ".........", "....X...."},
     false},
    {"open double three", {"", "", "....X....", "....X....", "..XX?...."}, true},
    {"double three, one three closed by White", {"", "", "....X....", "....X....", ".OXX?...."}, false},
    // The row three's only straight-four point (right of '?') is an overline point.
    {"double three, straight-four point is an overline",
     {"", "", "....XX...", "....XX...", "O.XX?....", ".....X...", ".....X...", ".....X..."},
     false},
    // The same point becomes a double four (row straight four, column four) once '?' is played.
    {"double three, straight-four point becomes a double four",
     {".....O...", ".....X...", "....XX...", "....XX...", "O.XX?...."},
     false},
    // The same point also completes a five in its column, so its straight four is no threat.
    {"double three, straight-four point is also a five",
     {".....X...", ".....X...", "....XX...", "....XX...", "O.XX?...."},
     false},
    // Without the stones that spoil the row three, the double three is real.
    {"double three, control", {"", "", "....X....", "....X....", "O.XX?...."}, true},
};

TEST(Renju, ForbiddenPointsOfDrawnPositions) {
  for (const Case& c : kCases) {
    const Drawn d = drawn(c.rows, 0);
    ASSERT_GE(d.index, 0) << c.name;
    ASSERT_FALSE(d.board.game_over) << c.name;
    EXPECT_EQ(d.board.forbidden[d.index], c.forbidden) << c.name;
    EXPECT_EQ(is_candidate(d.board, d.index), !c.forbidden) << c.name;
  }
}

const Case& named(const std::string& name) {
  return *std::find_if(std::begin(kCases), std::end(kCases), [&](const Case& c) { return c.name == name; });
}

TEST(Renju, FlagsSeenByTheVerification) {
  // The spoiled double threes are still flagged; only the verification clears them.
  for (const char* name : {"open double three", "double three, straight-four point is an overline",
                           "double three, straight-four point becomes a double four",
                           "double three, straight-four point is also a five"}) {
    const Drawn d = drawn(named(name).rows, 0);
    EXPECT_EQ(d.board.renju_flags[d.index][4], 1) << name;
  }
  const Drawn closed = drawn(named("double three, one three closed by White").rows, 0);
  EXPECT_EQ(closed.board.renju_flags[closed.index][4], 0);
  const Drawn twin = drawn(named("double four in one line").rows, 0);
  EXPECT_EQ(twin.board.renju_flags[twin.index][3], 1);
  const Drawn five = drawn(named("five with an overline").rows, 0);
  EXPECT_EQ(five.board.renju_flags[five.index][0], 1);
  EXPECT_EQ(five.board.renju_flags[five.index][1], 1);
}

TEST(Renju, WhiteToMoveKeepsTheMapButMayPlayThere) {
  for (const Case& c : kCases) {
    const Drawn black = drawn(c.rows, 0);
    const Drawn white = drawn(c.rows, 1);
    EXPECT_EQ(white.board.forbidden, black.board.forbidden) << c.name;
    EXPECT_TRUE(is_candidate(white.board, white.index)) << c.name;
  }
}

TEST(Renju, VerificationLeavesThePositionAsItWas) {
  for (const Case& c : kCases) {
    for (int side = 0; side < 2; ++side) {
      const Drawn d = drawn(c.rows, side);
      Board copy = d.board;
      copy.forbidden.fill(0);
      update_forbidden(copy);
      SCOPED_TRACE(std::string(c.name) + ", side " + std::to_string(side));
      EXPECT_EQ(copy.forbidden, d.board.forbidden);
      EXPECT_EQ(copy.hash, d.board.hash);
      EXPECT_EQ(copy.hash, drawn(c.rows, side).board.hash);
      EXPECT_EQ(copy.side_to_move, side);
      EXPECT_EQ(copy.move_count, d.board.move_count);
      EXPECT_EQ(copy.cells, d.board.cells);
      EXPECT_EQ(copy.stone_count, d.board.stone_count);
      EXPECT_EQ(copy.empty_count, d.board.empty_count);
      EXPECT_EQ(copy.row_lines, d.board.row_lines);
      EXPECT_EQ(copy.col_lines, d.board.col_lines);
      EXPECT_EQ(copy.sum_lines, d.board.sum_lines);
      EXPECT_EQ(copy.diff_lines, d.board.diff_lines);
      EXPECT_EQ(copy.black_codes, d.board.black_codes);
      EXPECT_EQ(copy.white_codes, d.board.white_codes);
      EXPECT_EQ(copy.renju_flags, d.board.renju_flags);
      EXPECT_EQ(copy.near_count, d.board.near_count);
      EXPECT_EQ(copy.verify_limit, -1);
      EXPECT_FALSE(copy.game_over);
    }
  }
}

TEST(Renju, OtherRulesHaveNoForbiddenPointsOrFlags) {
  for (Rule rule : {Rule::Freestyle, Rule::Standard, Rule::StandardCaro}) {
    for (const Case& c : kCases) {
      const Drawn d = drawn(c.rows, 0, rule);
      EXPECT_EQ(d.board.forbidden, (std::array<uint8_t, kCellCount>{})) << c.name;
      EXPECT_EQ(d.board.renju_flags, (std::array<std::array<uint8_t, 5>, kCellCount>{})) << c.name;
      EXPECT_TRUE(is_candidate(d.board, d.index)) << c.name;
    }
  }
}

}  // namespace
