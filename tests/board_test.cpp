#include "board/board.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "board/candidates.h"
#include "board_reference.h"

namespace {

using ref::at;
using ref::config;

constexpr Rule kRules[] = {Rule::Freestyle, Rule::Standard, Rule::Renju, Rule::StandardCaro};

Board empty_board(const BoardConfig& c, int side = 0) { return Board(c, 0, CellArray{}, side); }

Board from_picture(const BoardConfig& c, const std::vector<std::string>& rows, int side) {
  const CellArray cells = ref::picture(rows);
  return Board(c, ref::stones(c, cells), cells, side);
}

// Writes `pattern` ('X', 'O', '#', anything else empty) from (x, y) in steps of (dx, dy)
// and returns the cell marked '*', which stays empty.
Move draw(CellArray& cells, const std::string& pattern, int x, int y, int dx, int dy) {
  Move star{};
  for (size_t i = 0; i < pattern.size(); ++i, x += dx, y += dy) {
    const char ch = pattern[i];
    cells[cell_index(x, y)] = ch == 'X' ? BLACK : ch == 'O' ? WHITE : ch == '#' ? BLOCKED : EMPTY;
    if (ch == '*') star = at(x, y);
  }
  return star;
}

void expect_result(const Board& b, int winner) {
  ASSERT_TRUE(b.game_over);
  EXPECT_EQ(b.winner, winner);
  if (winner == 2) {
    EXPECT_EQ(b.result_values, (std::array<float, 2>{0.0f, 0.0f}));
  } else {
    EXPECT_EQ(b.result_values[winner], 1.0f);
    EXPECT_EQ(b.result_values[winner ^ 1], -1.0f);
  }
}

// Everything the position determines. The winner and result values are only meaningful
// while the game is over.
void expect_same(const Board& a, const Board& b) {
  EXPECT_EQ(a.move_count, b.move_count);
  EXPECT_EQ(a.cells, b.cells);
  EXPECT_EQ(a.side_to_move, b.side_to_move);
  EXPECT_EQ(a.hash, b.hash);
  EXPECT_EQ(a.candidates, b.candidates);
  EXPECT_EQ(a.game_over, b.game_over);
  if (a.game_over && b.game_over) {
    EXPECT_EQ(a.winner, b.winner);
    EXPECT_EQ(a.result_values, b.result_values);
  }
  EXPECT_EQ(a.stone_count, b.stone_count);
  EXPECT_EQ(a.empty_count, b.empty_count);
  EXPECT_EQ(a.near_count, b.near_count);
  EXPECT_EQ(a.row_lines, b.row_lines);
  EXPECT_EQ(a.col_lines, b.col_lines);
  EXPECT_EQ(a.sum_lines, b.sum_lines);
  EXPECT_EQ(a.diff_lines, b.diff_lines);
}

void expect_matches_reference(const Board& b) {
  const BoardConfig& c = b.config;
  EXPECT_EQ(b.hash, ref::hash(c, b.cells, b.side_to_move));
  const ref::Lines lines = ref::lines(c, b.cells);
  EXPECT_EQ(b.row_lines, lines.row);
  EXPECT_EQ(b.col_lines, lines.col);
  EXPECT_EQ(b.sum_lines, lines.sum);
  EXPECT_EQ(b.diff_lines, lines.diff);
  EXPECT_EQ(b.near_count, ref::near_counts(c, b.cells));
  EXPECT_EQ(static_cast<int>(b.stone_count), ref::stones(c, b.cells));
  const ref::Outcome expected = ref::outcome(c, b.cells, b.side_to_move);
  EXPECT_EQ(b.game_over, expected.over);
  if (expected.over && b.game_over) expect_result(b, expected.winner);
  if (!b.game_over) {
    // Renju forbidden points are the board's own business here; they only leave the list.
    std::vector<Move> expected_candidates = ref::candidates(c, b.cells);
    if (c.rule == Rule::Renju && b.side_to_move == 0)
      std::erase_if(expected_candidates, [&](Move m) { return b.forbidden[cell_index(m.x, m.y)] != 0; });
    EXPECT_EQ(b.candidates, expected_candidates);
  }
}

// A game of `moves` random candidate moves with no finished game on the way.
Board random_game(const BoardConfig& c, unsigned seed, int moves) {
  std::mt19937 rng(seed);
  Board b = empty_board(c);
  while (static_cast<int>(b.stone_count) < moves) {
    const Move m = b.candidates[rng() % b.candidates.size()];
    b.play(m);
    if (b.game_over) b.undo(m, true);
  }
  return b;
}

TEST(BoardWin, LinePatternsUnderEachRule) {
  struct Case {
    Rule rule;
    const char* line;  // '*' is the move
    int mover;
    bool from_edge;  // the pattern starts on the board edge
    bool wins;
  };
  const Case cases[] = {
      {Rule::Freestyle, "XXXX*", 0, true, true},
      {Rule::Freestyle, "XX*XXX", 0, false, true},
      {Rule::Freestyle, "OOO*OOO", 1, false, true},
      {Rule::Freestyle, "XXX*.X", 0, false, false},
      {Rule::Standard, "XXXX*", 0, true, true},
      {Rule::Standard, "OXXXX*O", 0, false, true},
      {Rule::Standard, "XX*XXX", 0, false, false},
      {Rule::Standard, "OOO*OOO", 1, true, false},
      {Rule::Renju, "XXXX*", 0, false, true},
      {Rule::Renju, "OOOO*", 1, true, true},
      {Rule::Renju, "XX*XXX", 0, true, false},
      {Rule::Renju, "OO*OOO", 1, false, true},
      // Caro: the edge and blocked cells do not block, opponent stones at both ends do.
      {Rule::StandardCaro, "XXXX*O", 0, true, true},
      {Rule::StandardCaro, "*OOOOX", 1, true, true},
      {Rule::StandardCaro, "OXXXX*.", 0, false, true},
      {Rule::StandardCaro, "#XXXX*#", 0, false, true},
      {Rule::StandardCaro, "OXXXX*O", 0, false, false},
      {Rule::StandardCaro, "XOO*OOX", 1, false, false},
      {Rule::StandardCaro, "XX*XXX", 0, true, false},
      {Rule::StandardCaro, ".OO*OOO.", 1, false, false},
  };
  // Row, y - x constant, column, x + y constant; each with an edge and an inner start.
  const int steps[4][2] = {{1, 0}, {1, 1}, {0, 1}, {-1, 1}};
  const int edge_start[4][2] = {{0, 7}, {0, 0}, {7, 0}, {14, 0}};
  const int inner_start[4][2] = {{3, 7}, {3, 2}, {7, 3}, {11, 2}};
  for (const Case& t : cases) {
    for (int d = 0; d < 4; ++d) {
      SCOPED_TRACE(std::string(rule_name(t.rule)) + " " + t.line + " direction " + std::to_string(d));
      const BoardConfig c = config(t.rule, 15, 15);
      CellArray cells{};
      const int* start = t.from_edge ? edge_start[d] : inner_start[d];
      const Move move = draw(cells, t.line, start[0], start[1], steps[d][0], steps[d][1]);
      Board b(c, ref::stones(c, cells), cells, t.mover);
      ASSERT_FALSE(b.game_over);
      b.play(move);
      EXPECT_EQ(b.game_over, t.wins);
      EXPECT_EQ(ref::wins(c, b.cells, move.x, move.y), t.wins);
      if (t.wins) expect_result(b, t.mover);
    }
  }
}

TEST(BoardWin, AMoveWinsWhenAnyOfItsLinesWins) {
  struct Case {
    Rule rule;
    const char* row;
    const char* column;
    bool wins;
  };
  const Case cases[] = {
      {Rule::Standard, "XX*XXX", "XX*XX", true},
      {Rule::Standard, "XX*XXX", "XXX*XX", false},
      {Rule::Renju, "XX*XXX", "XX*XX", true},
      {Rule::StandardCaro, "OXX*XXO", "XX*XX", true},
      {Rule::StandardCaro, "OXX*XXO", "OXX*XXO", false},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(std::string(rule_name(t.rule)) + " " + t.row + " / " + t.column);
    const BoardConfig c = config(t.rule, 15, 15);
    CellArray cells{};
    const int row_star = static_cast<int>(std::string(t.row).find('*'));
    const int column_star = static_cast<int>(std::string(t.column).find('*'));
    draw(cells, t.row, 7 - row_star, 7, 1, 0);
    draw(cells, t.column, 7, 7 - column_star, 0, 1);
    Board b(c, ref::stones(c, cells), cells, 0);
    b.play(at(7, 7));
    EXPECT_EQ(b.game_over, t.wins);
    if (t.wins) expect_result(b, 0);
  }
}

TEST(BoardWin, BuiltPositionTakesTheLastWinningStoneInRowMajorOrder) {
  const BoardConfig c = config(Rule::Freestyle, 15, 15);
  expect_result(from_picture(c, {"OOOOO", "", "XXXXX"}, 0), 0);
  expect_result(from_picture(c, {"XXXXX", "", "OOOOO"}, 0), 1);
  // White's column ends at (10, 4), after Black's row on y = 2.
  expect_result(from_picture(c, {"..........O", "..........O", "XXXXX.....O", "..........O", "..........O"}, 1), 1);

  // An overline that does not win leaves the game open, with candidates as usual.
  for (Rule rule : {Rule::Standard, Rule::StandardCaro, Rule::Renju}) {
    const Board b = from_picture(config(rule, 15, 15), {"", "XXXXXX", "OOOO"}, 1);
    EXPECT_FALSE(b.game_over) << rule_name(rule);
    expect_matches_reference(b);
  }
  expect_result(from_picture(config(Rule::Renju, 15, 15), {"", "OOOOOO", "XXXX"}, 0), 1);
}

TEST(BoardEnd, FullBoardWithoutFiveIsADraw) {
  const std::vector<std::string> rows = {"XXOOX", "OOXXO", "XXOOX", "OOXXO", "XXOOX"};
  std::vector<Move> black, white;
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) (rows[y][x] == 'X' ? black : white).push_back(at(x, y));
  for (Rule rule : kRules) {
    SCOPED_TRACE(rule_name(rule));
    // With area range 4 any stone covers the whole 5 x 5 board.
    Board b = empty_board(config(rule, 5, 5, 4, 4));
    for (size_t i = 0; i < white.size(); ++i) {
      b.play(black[i]);
      b.play(white[i]);
      ASSERT_FALSE(b.game_over);
    }
    b.play(black.back());
    expect_result(b, 2);
    EXPECT_EQ(b.empty_count, 0u);
    expect_same(b, Board(b.config, 25, b.cells, 1));
  }
}

TEST(BoardEnd, NoCandidateLeftEndsTheGameByEmptyCellCount) {
  struct Case {
    int width, height, side, result;  // empty cells after the move: width * height - 1
  };
  const Case cases[] = {
      {5, 5, 0, 2},    // 24
      {13, 2, 0, 2},   // 25
      {9, 3, 0, 0},    // 26
      {6, 5, 0, 0},    // 29
      {15, 15, 0, 0},  // 224
      {15, 15, 1, 1},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(std::to_string(t.width) + "x" + std::to_string(t.height));
    const BoardConfig c = config(Rule::Freestyle, t.width, t.height, 0, 0);
    Board b = empty_board(c, t.side);
    ASSERT_EQ(b.candidates.size(), static_cast<size_t>(t.width * t.height));
    b.play(at(1, 1));
    EXPECT_TRUE(b.candidates.empty());
    expect_result(b, t.result);
    expect_result(Board(c, 1, b.cells, t.side ^ 1), t.result);
    b.undo(at(1, 1), true);
    EXPECT_FALSE(b.game_over);
    EXPECT_EQ(b.candidates.size(), static_cast<size_t>(t.width * t.height));
  }
}

TEST(BoardUndo, UndoingAWinReopensTheGame) {
  for (Rule rule : kRules) {
    SCOPED_TRACE(rule_name(rule));
    Board b = empty_board(config(rule, 15, 15));
    for (int x = 3; x < 7; ++x) {
      b.play(at(x, 7));
      b.play(at(x, 9));
    }
    const Board before = b;
    b.play(at(7, 7));
    expect_result(b, 0);
    b.undo(at(7, 7), true);
    EXPECT_FALSE(b.game_over);
    expect_same(b, before);

    b.play(at(7, 8));  // not a win
    EXPECT_FALSE(b.game_over);
    b.play(at(7, 9));  // White's five
    expect_result(b, 1);
    expect_same(b, Board(b.config, b.move_count, b.cells, b.side_to_move));
  }
}

TEST(BoardUndo, PlayThenUndoRestoresEveryField) {
  for (Rule rule : kRules) {
    for (auto [width, height] : {std::pair{15, 15}, std::pair{20, 20}, std::pair{20, 7}}) {
      SCOPED_TRACE(std::string(rule_name(rule)) + " " + std::to_string(width) + "x" + std::to_string(height));
      Board b = random_game(config(rule, width, height), 7, 40);
      const Board before = b;
      for (const Move m : before.candidates) {
        b.play(m);
        EXPECT_EQ(b.hash, ref::hash(b.config, b.cells, b.side_to_move));
        b.undo(m, true);
        expect_same(b, before);
        if (HasFailure()) return;
      }
      // Without recompute only the candidates are left for the caller to rebuild.
      const Move m = before.candidates.front();
      b.play(m);
      b.undo(m, false);
      EXPECT_TRUE(b.candidates.empty());
      rebuild_candidates(b);
      expect_same(b, before);
    }
  }
}

TEST(BoardHash, MatchesKeysDrawnFromTheFixedSeed) {
  for (Rule rule : kRules) {
    for (auto [width, height] : {std::pair{5, 5}, std::pair{15, 15}, std::pair{20, 20}, std::pair{7, 13}}) {
      const BoardConfig c = config(rule, width, height);
      EXPECT_EQ(empty_board(c).hash, ref::hash(c, CellArray{}, 0));
      const Board b = random_game(c, 3, 12);
      EXPECT_EQ(b.hash, ref::hash(c, b.cells, b.side_to_move));
    }
  }
  // Blocked cells are hashed with their own key.
  const BoardConfig c = config(Rule::Standard, 15, 15);
  const CellArray blocked = ref::picture({"#..#", "", "..X"});
  EXPECT_EQ(Board(c, 1, blocked, 1).hash, ref::hash(c, blocked, 1));
}

TEST(BoardHash, SeparatesRulesAndSidesButNotMoveCounts) {
  const CellArray cells = ref::picture({"", ".XO", "..X"});
  std::vector<uint64_t> hashes;
  for (Rule rule : kRules) hashes.push_back(Board(config(rule, 15, 15), 3, cells, 1).hash);
  for (size_t i = 0; i < hashes.size(); ++i)
    for (size_t j = i + 1; j < hashes.size(); ++j) EXPECT_NE(hashes[i], hashes[j]);

  const BoardConfig c = config(Rule::Freestyle, 15, 15);
  EXPECT_EQ(Board(c, 3, cells, 1).hash, Board(c, 9, cells, 1).hash);
  EXPECT_EQ(Board(c, 3, cells, 0).hash ^ Board(c, 3, cells, 1).hash, 1u);
}

TEST(BoardShape, RectangularBoards) {
  const BoardConfig wide = config(Rule::Freestyle, 20, 5);
  const BoardConfig tall = config(Rule::Freestyle, 5, 20);
  // Width and height swapped contribute the same size keys; a square board differs.
  EXPECT_EQ(empty_board(wide).hash, empty_board(tall).hash);
  EXPECT_NE(empty_board(wide).hash, empty_board(config(Rule::Freestyle, 20, 20)).hash);
  EXPECT_NE(empty_board(wide).hash, empty_board(config(Rule::Freestyle, 5, 5)).hash);

  Board w = empty_board(wide), t = empty_board(tall);
  for (int i = 15; i < 19; ++i) {
    w.play(at(i, 4));
    w.play(at(i, 2));
    t.play(at(4, i));
    t.play(at(2, i));
    expect_matches_reference(w);
    expect_matches_reference(t);
  }
  w.play(at(19, 4));
  t.play(at(4, 19));
  expect_result(w, 0);
  expect_result(t, 0);
  expect_matches_reference(w);
  expect_matches_reference(t);
}

TEST(BoardText, MoveTextIsRowThenColumn) {
  EXPECT_EQ(move_text(at(0, 14)), "(14, 0)");
  EXPECT_EQ(move_text(at(7, 3)), "(3, 7)");
  EXPECT_EQ(move_text(at(0, 0)), "(0, 0)");
  EXPECT_EQ(move_text(at(19, 12)), "(12, 19)");
}

// Random games with random take-backs: after every step the incrementally kept board must
// equal one built from scratch from its cells and agree with the reference.
TEST(BoardStress, RandomPlayAndUndoMatchRebuiltBoardAndReference) {
  struct Shape {
    int width, height, area, line;
  };
  const Shape shapes[] = {{15, 15, 2, 4}, {20, 20, 2, 4}, {20, 5, 1, 3}, {5, 20, 2, 2}, {9, 13, 2, 1}, {6, 6, 1, 1}};
  unsigned seed = 1;
  int draws = 0;
  for (Rule rule : kRules) {
    for (const Shape& s : shapes) {
      SCOPED_TRACE(std::string(rule_name(rule)) + " " + std::to_string(s.width) + "x" + std::to_string(s.height));
      const BoardConfig c = config(rule, s.width, s.height, s.area, s.line);
      std::mt19937 rng(seed++);
      Board b = empty_board(c);
      std::vector<Move> history;
      int wins = 0;
      for (int step = 0; step < 1500; ++step) {
        if (b.game_over || (!history.empty() && rng() % 10 < 3)) {
          for (int n = b.game_over ? 1 + rng() % 8 : 1; n > 0 && !history.empty(); --n) {
            b.undo(history.back(), true);
            history.pop_back();
          }
        } else {
          history.push_back(b.candidates[rng() % b.candidates.size()]);
          b.play(history.back());
          if (b.game_over) ++(b.winner == 2 ? draws : wins);
        }
        expect_same(b, Board(c, b.move_count, b.cells, b.side_to_move));
        expect_matches_reference(b);
        if (HasFailure()) {
          ADD_FAILURE() << "at step " << step << " after " << history.size() << " moves";
          return;
        }
      }
      EXPECT_GT(wins, 0);
    }
  }
  EXPECT_GT(draws, 0);
}

}  // namespace
