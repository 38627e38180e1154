// Renju forbidden points of drawn positions, from the board and from the plainly written
// rule checker (board_reference.h): overlines, double fours and double threes, the
// exceptions for fives and four-threes, and threes that cannot really become a straight
// four. Random positions are compared in board_test.cpp.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board/board.h"
#include "board_reference.h"
#include "test_positions.h"

namespace {

struct Case {
  const char* name;
  std::vector<std::string> rows;  // '?' the cell judged, Black to move
  bool forbidden;
};

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
    SCOPED_TRACE(c.name);
    // The drawing goes to (3, 3) of a 15 x 15 board.
    std::vector<std::string> rows(3, "");
    for (const std::string& row : c.rows) rows.push_back("..." + row);
    const Move point = *take_mark(rows, '?');
    const Board board = board_from_rows(ref::config(Rule::Renju, 15, 15), rows, 0);
    ASSERT_FALSE(board.game_over());
    EXPECT_EQ(board.forbidden()[cell_index(point.x, point.y)], c.forbidden);
    EXPECT_EQ(board.forbidden(), ref::forbidden_map(board.config(), board.cells()));
    CellArray cells = board.cells();
    EXPECT_EQ(ref::forbidden(board.config(), cells, point.x, point.y), c.forbidden) << "reference";
  }
}

}  // namespace
