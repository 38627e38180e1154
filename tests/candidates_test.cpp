#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "board/board.h"
#include "board_reference.h"

namespace {

using ref::at;
using ref::config;

Board empty_board(const BoardConfig& c) { return Board(c, 0, CellArray{}, 0); }

// The cells marked '+' in a picture whose top-left corner is (x0, y0), row-major.
std::vector<Move> marked(const std::vector<std::string>& rows, int x0 = 0, int y0 = 0) {
  std::vector<Move> cells;
  for (size_t y = 0; y < rows.size(); ++y)
    for (size_t x = 0; x < rows[y].size(); ++x)
      if (rows[y][x] == '+') cells.push_back(at(x0 + static_cast<int>(x), y0 + static_cast<int>(y)));
  return cells;
}

std::vector<Move> all_cells(int width, int height) {
  std::vector<Move> cells;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) cells.push_back(at(x, y));
  return cells;
}

TEST(Candidates, UnitRangesGiveTheEightNeighbours) {
  Board b = empty_board(config(Rule::Freestyle, 15, 15, 1, 1));
  b.play(at(7, 7));
  EXPECT_EQ(b.candidates, marked({"+++", "+.+", "+++"}, 6, 6));
  std::array<uint8_t, kCellCount> expected_near{};
  for (int y = 6; y <= 8; ++y)
    for (int x = 6; x <= 8; ++x) expected_near[cell_index(x, y)] = 1;
  EXPECT_EQ(b.near_count, expected_near);
}

TEST(Candidates, ZeroRangesLeaveNoCandidateAfterTheFirstStone) {
  Board b = empty_board(config(Rule::Standard, 15, 15, 0, 0));
  b.play(at(7, 7));
  EXPECT_TRUE(b.candidates.empty());
  EXPECT_TRUE(b.game_over);
  EXPECT_EQ(b.near_count[cell_index(7, 7)], 1);
}

TEST(Candidates, ShapeIsASquarePlusRaysClippedToTheBoard) {
  // Area 1, line 3: the 3 x 3 square and rays out to distance 3.
  Board b = empty_board(config(Rule::Freestyle, 15, 15, 1, 3));
  b.play(at(7, 7));
  EXPECT_EQ(b.candidates, marked({"+..+..+",  //
                                  ".+.+.+.",  //
                                  "..+++..",  //
                                  "+++.+++",  //
                                  "..+++..",  //
                                  ".+.+.+.",  //
                                  "+..+..+"},
                                 4, 4));

  // Area 2, line 4 in the corner: only the parts on the board remain.
  Board corner = empty_board(config(Rule::Freestyle, 15, 15, 2, 4));
  corner.play(at(0, 0));
  EXPECT_EQ(corner.candidates, marked({".++++", "+++", "+++", "+..+", "+...+"}));

  // A line range not beyond the area range adds no rays.
  for (int line : {0, 1, 2}) {
    Board square = empty_board(config(Rule::Freestyle, 15, 15, 2, line));
    square.play(at(14, 14));
    EXPECT_EQ(square.candidates, marked({"+++", "+++", "++"}, 12, 12)) << "line range " << line;
  }

  // The far edges of a rectangular board clip the shape as well.
  Board wide = empty_board(config(Rule::Freestyle, 20, 5, 1, 3));
  wide.play(at(19, 4));
  EXPECT_EQ(wide.candidates, marked({"+..+", ".+.+", "..++", "+++"}, 16, 1));
}

TEST(Candidates, TakingBackTheOnlyStoneOpensEveryCell) {
  for (auto [area, line] : {std::pair{1, 1}, std::pair{0, 0}, std::pair{2, 4}}) {
    Board b = empty_board(config(Rule::Renju, 20, 6, area, line));
    b.play(at(3, 2));
    b.undo(at(3, 2), true);
    EXPECT_FALSE(b.game_over);
    EXPECT_EQ(b.candidates, all_cells(20, 6));
    EXPECT_EQ(b.near_count, (std::array<uint8_t, kCellCount>{}));
  }
}

TEST(Candidates, ListIsRowMajorWhateverThePlayOrder) {
  const std::vector<Move> black = {at(9, 9), at(2, 3), at(12, 1), at(5, 13)};
  const std::vector<Move> white = {at(4, 4), at(13, 12), at(0, 7), at(8, 2)};
  const BoardConfig c = config(Rule::Freestyle, 15, 15, 2, 4);
  Board forward = empty_board(c), backward = empty_board(c);
  for (size_t i = 0; i < black.size(); ++i) {
    forward.play(black[i]);
    forward.play(white[i]);
    backward.play(black[black.size() - 1 - i]);
    backward.play(white[white.size() - 1 - i]);
  }
  EXPECT_EQ(forward.candidates, backward.candidates);
  EXPECT_EQ(forward.near_count, backward.near_count);
  EXPECT_EQ(forward.candidates, ref::candidates(c, forward.cells));
  EXPECT_TRUE(std::is_sorted(forward.candidates.begin(), forward.candidates.end(),
                             [](Move a, Move b) { return a.y != b.y ? a.y < b.y : a.x < b.x; }));
}

TEST(Candidates, RandomPositionsMatchTheReference) {
  struct Shape {
    int width, height, area, line;
  };
  const Shape shapes[] = {{15, 15, 2, 4}, {20, 20, 1, 5}, {20, 5, 0, 2}, {7, 19, 3, 3}, {12, 12, 1, 0}};
  std::mt19937 rng(11);
  int compared = 0;
  for (const Shape& s : shapes) {
    const BoardConfig c = config(Rule::Standard, s.width, s.height, s.area, s.line);
    for (int round = 0; round < 40; ++round) {
      // Sparse to dense scatters of stones, with a few blocked cells.
      const unsigned density = 2 + round % 20;
      CellArray cells{};
      for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x) {
          const unsigned r = rng() % 100;
          cells[cell_index(x, y)] = r < density           ? BLACK
                                    : r < 2 * density     ? WHITE
                                    : r < 2 * density + 2 ? BLOCKED
                                                          : EMPTY;
        }
      const Board b(c, ref::stones(c, cells), cells, static_cast<int>(rng() % 2));
      EXPECT_EQ(b.near_count, ref::near_counts(c, cells));
      if (b.game_over) continue;
      EXPECT_EQ(b.candidates, ref::candidates(c, cells));
      ++compared;
    }
  }
  EXPECT_GT(compared, 100);
}

}  // namespace
