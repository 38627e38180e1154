// The board and its pattern tables against the slow reference (board_reference.h): the
// tables on hand-drawn lines that pin the reference too, then on every key that a board
// without blocked cells can show and on random keys, each with its mirror image and span
// bytes; drawn positions that pin the rules and the Renju forbidden points; and random
// games in which the incrementally kept board must, after every play and undo, equal a
// board built from scratch and agree with the reference.
#include "board/board.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "board/candidates.h"
#include "board/forbidden.h"
#include "board/pattern_codes.h"
#include "board/pattern_tables.h"
#include "board/patterns.h"
#include "board_reference.h"
#include "test_positions.h"

namespace tovan {

namespace {

using ref::at;
using ref::config;
using ref::Line;

constexpr Rule kRules[] = {Rule::Freestyle, Rule::Standard, Rule::Renju, Rule::StandardCaro};

// Random pattern keys per rule class, and random plays and take-backs per board shape;
// fewer under the sanitizers, which are slow.
#ifdef NDEBUG
constexpr int kSamples = 100000;
constexpr int kSteps = 1000;
#else
constexpr int kSamples = 15000;
constexpr int kSteps = 250;
#endif

constexpr uint16_t kCodeBits = 0x7FE;  // bits 1..10

TEST(PatternTable, HandDrawnLines) {
  // Black's line, the centre (index 5) the empty cell coded, and its codes by rule class.
  const uint16_t five_and_overline = kFive | kOverline;
  const uint16_t straight = kStraightFour | kFour;
  const uint16_t twin = kDoubleFour | kFour;
  const std::pair<const char*, std::array<uint16_t, 3>> cases[] = {
      {"...XX.XX...", {kFive, kFive, kFive}},
      {"..XXX.XX...", {five_and_overline, kOverline, kOverline}},
      {"OXXXX.O....", {kFive, kFive, 0}},  // closed at both ends: no Caro win
      {"#XXXX.O....", {kFive, kFive, kFive}},
      {"OXXXX......", {kFive, kFive, kFive}},
      {"..XXX......", {straight, straight, straight}},
      {"X.XXX......", {straight, kFour, kFour}},  // the left end makes six
      {".OXXX......", {kFour, kFour, kFour}},
      {"..X.X.X.X..", {twin, twin, twin}},
      {"..XX..X.XX.", {twin, twin, twin}},
      {"...XX......", {kOpenThree, kOpenThree, kOpenThree}},
      {"...X..X....", {kOpenThree, kOpenThree, kOpenThree}},
      {"..OXX......", {kThree, kThree, kThree}},
      {"....X......", {kOpenTwo, kOpenTwo, kOpenTwo}},
      {"...OX......", {kTwo, kTwo, kTwo}},
      {"...........", {kOne, kOne, kOne}},
      {"....O.O....", {0, 0, 0}},
      {"###OX.O....", {0, 0, 0}},
  };
  for (const auto& [drawn, codes] : cases) {
    const CellArray cells = cells_from_rows({drawn});
    Line line;
    std::copy(cells.begin(), cells.begin() + 11, line.begin());
    for (int rule_class = 0; rule_class < kRuleClasses; ++rule_class) {
      EXPECT_EQ(ref::code(line, rule_class), codes[rule_class]) << "reference, " << drawn << " class " << rule_class;
      EXPECT_EQ(pattern_code(rule_class, ref::key_of(line)) & kCodeBits, codes[rule_class])
          << drawn << " class " << rule_class;
    }
  }
}

// One key under one class: its code against the reference; its mirror image with the same
// code and the swapped span; the span on empty and own cells only, covering the cells
// each kind of the code is about.
void check_key(uint32_t key, int rule_class) {
  const Line line = ref::line_of(key);
  const uint16_t code = pattern_code(rule_class, key);
  const std::string where = "class " + std::to_string(rule_class) + " " + ref::drawing(line);
  ASSERT_EQ(code & kCodeBits, ref::code(line, rule_class)) << where;
  Line mirror = line;
  std::reverse(mirror.begin(), mirror.end());
  ASSERT_EQ(pattern_code(rule_class, ref::key_of(mirror)), code) << where;

  const ref::Run run = ref::centre_run(line);
  const uint8_t span = pattern_span(rule_class, key);
  const std::string at_span = where + " span " + std::to_string(span);
  ASSERT_EQ(pattern_span(rule_class, ref::key_of(mirror)), static_cast<uint8_t>(span >> 4 | span << 4)) << at_span;
  const int first = ref::kCentre - (span >> 4), last = ref::kCentre + (span & 0xF);
  ASSERT_TRUE(first >= 0 && last <= 10) << at_span;
  for (int i = first; i <= last; ++i) ASSERT_TRUE(line[i] == EMPTY || line[i] == ref::kOwn) << at_span;
  for (int bit = 1; bit <= 10; ++bit) {
    if (!(code & (1 << bit))) continue;
    const std::string at_bit = at_span + " bit " + std::to_string(bit);
    std::vector<int> covered;
    if (bit == 1) covered = {run.first, run.last};
    if (bit == 2) {
      ASSERT_EQ(first, run.first) << at_bit;
      ASSERT_EQ(last, run.last) << at_bit;
    }
    if (bit >= 3 && bit <= 5) {
      for (int i : ref::winning_cells(line, rule_class)) {
        const ref::Run five = ref::centre_run(ref::with_own(line, i));
        covered.insert(covered.end(), {i, five.first, five.last});
      }
    }
    if (bit == 6) covered = ref::straight_four_cells(line, rule_class);
    for (int i : covered) ASSERT_TRUE(first <= i && i <= last) << at_bit << " misses cell " << i;
  }
}

// Every key whose cells are empty, own or opponent, off the board for 0 to 5 cells at
// each end; then uniform random keys, mostly junk, with blocked cells anywhere.
TEST(PatternTable, KeysMatchTheReference) {
  for (int rule_class = 0; rule_class < kRuleClasses; ++rule_class) {
    for (int left = 0; left <= 5; ++left) {
      for (int right = 0; right <= 5; ++right) {
        int count = 1;
        for (int i = left + right; i < 10; ++i) count *= 3;
        for (int n = 0; n < count; ++n) {
          Line line{};
          for (int i = 0, digits = n; i < 11; ++i) {
            const bool off = i < left || i > 10 - right;
            if (i == ref::kCentre) continue;
            line[i] = off ? BLOCKED : digits % 3;
            if (!off) digits /= 3;
          }
          check_key(ref::key_of(line), rule_class);
          if (HasFatalFailure()) return;
        }
      }
    }
    std::mt19937 rng(100 + rule_class);
    for (int n = 0; n < kSamples; ++n) {
      check_key(rng() & 0xFFFFF, rule_class);
      if (HasFatalFailure()) return;
    }
  }
}

// Drawn positions and their results (-1 open, 0 Black won, 1 White won, 2 draw), after
// the move '*' where there is one, by the side to move.
TEST(BoardResult, DrawnPositionsUnderEachRule) {
  struct Case {
    Rule rule;
    std::vector<std::string> rows;
    int side, result;
    int width = 15, height = 15, area = 2, line = 4;
  };
  const std::vector<std::string> full = {"XXOOX", "OOXXO", "XXOOX", "OOXXO", "XXOOX"};
  const Case cases[] = {
      {Rule::Freestyle, {"XXXX*"}, 0, 0},
      {Rule::Freestyle, {"..XX*XXX"}, 0, 0},
      {Rule::Freestyle, {"OOO*OOO"}, 1, 1},
      {Rule::Freestyle, {"XXX*.X"}, 0, -1},
      {Rule::Standard, {"..OXXXX*O"}, 0, 0},
      {Rule::Standard, {"XX*XXX"}, 0, -1},
      {Rule::Standard, {"XX*XXX", "..X", "..X", "..X", "..X"}, 0, 0},
      {Rule::Standard, {"..X", "..X", "XX*XXX", "..X", "..X", "..X"}, 0, -1},
      {Rule::Renju, {"XXXX*"}, 0, 0},
      {Rule::Renju, {".XX*XXX"}, 0, -1},
      {Rule::Renju, {"OO*OOO"}, 1, 1},
      {Rule::Renju, {"XX*XXX", "..X", "..X", "..X", "..X"}, 0, 0},
      // Caro: the edge and blocked cells do not block, opponent stones at both ends do.
      {Rule::StandardCaro, {"XXXX*O"}, 0, 0},
      {Rule::StandardCaro, {"..OXXXX*."}, 0, 0},
      {Rule::StandardCaro, {"..#XXXX*#"}, 0, 0},
      {Rule::StandardCaro, {"..OXXXX*O"}, 0, -1},
      {Rule::StandardCaro, {"XOO*OOX"}, 1, -1},
      {Rule::StandardCaro, {".OO*OOO."}, 1, -1},
      {Rule::StandardCaro, {"...O", "OXX*XXO", "...X", "...X", "...X", "...X", "...O"}, 0, -1},
      {Rule::StandardCaro, {"...O", "OXX*XXO", "...X", "...X", "...X", "...X"}, 0, 0},
      // A built position: the last winning stone in row-major order decides.
      {Rule::Freestyle, {"OOOOO", "", "XXXXX"}, 0, 0},
      {Rule::Freestyle, {"XXXXX", "", "OOOOO"}, 0, 1},
      {Rule::Freestyle, {"..........O", "..........O", "XXXXX.....O", "..........O", "..........O"}, 1, 1},
      {Rule::StandardCaro, {"", "XXXXXX", "OOOO"}, 1, -1},
      {Rule::Renju, {"", "OOOOOO", "XXXX"}, 0, 1},
      {Rule::Freestyle, full, 1, 2, 5, 5, 4, 4},
      {Rule::StandardCaro, {"XXOO*", "OOXXO", "XXOOX", "OOXXO", "XXOOX"}, 0, 2, 5, 5, 4, 4},
      // No candidate for the side to move: a draw up to 25 empty cells, else a loss.
      {Rule::Freestyle, {".X"}, 1, 2, 5, 5, 0, 0},
      {Rule::Freestyle, {"*"}, 0, 2, 13, 2, 0, 0},
      {Rule::Freestyle, {".X"}, 1, 0, 9, 3, 0, 0},
      {Rule::Freestyle, {"*"}, 1, 1, 15, 15, 0, 0},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(std::string(rule_name(t.rule)) + " " + t.rows[0]);
    const BoardConfig c = config(t.rule, t.width, t.height, t.area, t.line);
    std::vector<std::string> rows = t.rows;
    const std::optional<Move> move = take_mark(rows, '*');
    Board b = board_from_rows(c, rows, t.side);
    if (move) {
      ASSERT_FALSE(b.game_over());
      b.play(*move);
    }
    EXPECT_EQ(b.game_over() ? b.winner() : -1, t.result);
    EXPECT_EQ(ref::outcome(c, b.cells(), b.side_to_move()), t.result);
  }
}

// Candidate shapes: the stone 'X' makes the cells 'O' candidates, and no others.
TEST(Candidates, ShapeIsASquarePlusRaysClippedToTheBoard) {
  const std::pair<BoardConfig, std::vector<std::string>> cases[] = {
      {config(Rule::Freestyle, 15, 15, 1, 3),
       {"O..O..O", ".O.O.O.", "..OOO..", "OOOXOOO", "..OOO..", ".O.O.O.", "O..O..O"}},
      {config(Rule::Freestyle, 15, 15, 2, 4), {"XOOOO", "OOO", "OOO", "O..O", "O...O"}},
      {config(Rule::Freestyle, 15, 15, 2, 1), {"XOO", "OOO", "OOO"}},  // no rays inside the square
      {config(Rule::Freestyle, 20, 5, 1, 3),
       {"", "................O..O", ".................O.O", "..................OO", "................OOOX"}},
  };
  for (const auto& [c, rows] : cases) {
    const CellArray drawn = cells_from_rows(rows);
    std::vector<Move> expected;
    Board b(c, 0, CellArray{}, 0);
    for (int i = 0; i < kCellCount; ++i) {
      if (drawn[i] == WHITE) expected.push_back(at(i % 20, i / 20));
      if (drawn[i] == BLACK) b.play(at(i % 20, i / 20));
    }
    EXPECT_EQ(b.candidates(), expected) << rows[0];
    EXPECT_EQ(ref::candidates(c, b.cells(), 1), expected) << rows[0];
  }
}

TEST(BoardHash, SeparatesRulesSizesSidesAndBlockedCells) {
  std::set<uint64_t> hashes;
  for (Rule rule : kRules)
    for (auto [width, height] : {std::pair{15, 15}, std::pair{20, 20}, std::pair{20, 15}})
      for (int side = 0; side < 2; ++side)
        for (const CellArray& cells : {CellArray{}, cells_from_rows({"#"})})
          hashes.insert(Board(config(rule, width, height), 0, cells, side).hash());
  EXPECT_EQ(hashes.size(), 4u * 3 * 2 * 2);
}

// Renju forbidden points of drawn positions ('?' the cell judged, Black to move), from the
// board and from the reference: overlines, double fours and double threes, the exceptions
// for fives and four-threes, and threes that cannot really become a straight four.
const std::tuple<const char*, std::vector<std::string>, bool> kRenjuCases[] = {
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
  for (const auto& [name, drawing, forbidden] : kRenjuCases) {
    SCOPED_TRACE(name);
    // The drawing goes to (3, 3) of a 15 x 15 board.
    std::vector<std::string> rows(3, "");
    for (const std::string& row : drawing) rows.push_back("..." + row);
    const Move point = *take_mark(rows, '?');
    const Board board = board_from_rows(config(Rule::Renju, 15, 15), rows, 0);
    ASSERT_FALSE(board.game_over());
    EXPECT_EQ(board.forbidden()[cell_index(point.x, point.y)], forbidden);
    EXPECT_EQ(board.forbidden(), ref::forbidden_map(board.config(), board.cells()));
    CellArray cells = board.cells();
    EXPECT_EQ(ref::forbidden(board.config(), cells, point.x, point.y), forbidden) << "reference";
  }
}

// Everything the position determines; who won only while the game is over.
void expect_same(const Board& a, const Board& b) {
  const auto scalars = [](const Board& x) {
    return std::tuple(x.move_count(), x.side_to_move(), x.hash(), x.stone_count(), x.empty_count(), x.game_over(),
                      x.game_over() ? x.winner() : -1, x.game_over() ? x.result_values() : std::array<float, 2>{});
  };
  EXPECT_EQ(scalars(a), scalars(b));
  EXPECT_EQ(a.cells(), b.cells());
  EXPECT_EQ(a.candidates(), b.candidates());
  EXPECT_EQ(a.near_count(), b.near_count());
  EXPECT_EQ(std::tie(a.row_lines(), a.col_lines(), a.sum_lines(), a.diff_lines()),
            std::tie(b.row_lines(), b.col_lines(), b.sum_lines(), b.diff_lines()));
  EXPECT_EQ(std::tie(a.black_codes(), a.white_codes()), std::tie(b.black_codes(), b.white_codes()));
  EXPECT_EQ(std::tie(a.renju_flags(), a.forbidden()), std::tie(b.renju_flags(), b.forbidden()));
  for (int player = 0; player < 2; ++player) {
    EXPECT_EQ(std::tie(a.five_cells(player), a.four_cells(player)),
              std::tie(b.five_cells(player), b.four_cells(player)));
  }
}

void expect_matches_reference(const Board& b) {
  const BoardConfig& c = b.config();
  const Rule rule = c.rule;
  EXPECT_EQ(b.near_count(), ref::near_counts(c, b.cells()));
  const int result = ref::outcome(c, b.cells(), b.side_to_move());
  EXPECT_EQ(b.game_over() ? b.winner() : -1, result);
  if (b.game_over()) return;

  const auto forbidden = rule == Rule::Renju ? ref::forbidden_map(c, b.cells()) : std::array<uint8_t, kCellCount>{};
  EXPECT_EQ(b.forbidden(), forbidden);
  EXPECT_EQ(b.candidates(), ref::candidates(c, b.cells(), b.side_to_move()));

  // Keys read cell by cell for each colour; the Black key also through the line words. The
  // five and four sets of each player from the codes of the reference's keys.
  std::array<CellSet, 2> fives{}, fours{};
  for (int y = 0; y < c.height; ++y)
    for (int x = 0; x < c.width; ++x) {
      const int i = cell_index(x, y);
      if (b.cells()[i] != EMPTY) continue;
      for (int d = 0; d < 4; ++d) {
        const uint32_t black = ref::key_of(ref::line_at(c, b.cells(), x, y, d, BLACK));
        const uint32_t white = ref::key_of(ref::line_at(c, b.cells(), x, y, d, WHITE));
        ASSERT_EQ(line_key(b, x, y, d), black) << move_text(at(x, y)) << " d " << d;
        const uint16_t codes[2] = {pattern_code(ref::line_class(rule, BLACK), black),
                                   pattern_code(ref::line_class(rule, WHITE), white)};
        ASSERT_EQ(code_lane(b.black_codes()[i], d), codes[0]);
        ASSERT_EQ(code_lane(b.white_codes()[i], d), codes[1]);
        for (int player = 0; player < 2; ++player) {
          const uint16_t code = codes[player];
          if (code & kFive) fives[player][i / 64] |= uint64_t{1} << (i % 64);
          if (code & (kFour | kStraightFour | kDoubleFour)) fours[player][i / 64] |= uint64_t{1} << (i % 64);
        }
      }
    }
  for (int player = 0; player < 2; ++player) {
    EXPECT_EQ(b.five_cells(player), fives[player]) << "player " << player;
    EXPECT_EQ(b.four_cells(player), fours[player]) << "player " << player;
  }
}

// Random play and take-backs, several at once after a finished game, from a board with a
// few blocked cells. Now and then an undo leaves the forbidden points and candidates for
// the caller to restore.
TEST(BoardStress, RandomPlayAndUndoMatchRebuiltBoardAndReference) {
  struct Shape {
    int width, height, area, line;
  };
  const Shape shapes[] = {{15, 15, 2, 4}, {20, 20, 2, 4}, {20, 5, 1, 3}, {5, 20, 2, 2},
                          {9, 13, 2, 1},  {6, 6, 1, 1},   {5, 5, 0, 0}};
  unsigned seed = 1;
  int wins = 0, draws = 0;
  for (Rule rule : kRules) {
    for (const Shape& s : shapes) {
      SCOPED_TRACE(std::string(rule_name(rule)) + " " + std::to_string(s.width) + "x" + std::to_string(s.height));
      const BoardConfig c = config(rule, s.width, s.height, s.area, s.line);
      std::mt19937 rng(seed++);
      CellArray cells{};
      for (int i = 0; i < 3; ++i) cells[cell_index(rng() % s.width, rng() % s.height)] = BLOCKED;
      Board b(c, 0, cells, 0);
      std::vector<Move> history;
      for (int step = 0; step < kSteps; ++step) {
        if (b.game_over() || (!history.empty() && rng() % 10 < 3)) {
          for (int n = b.game_over() ? 1 + rng() % 8 : 1; n > 0 && !history.empty(); --n) {
            const bool restore_later = rng() % 4 == 0;
            b.undo(history.back(), !restore_later);
            history.pop_back();
            if (!restore_later) continue;
            if (rule == Rule::Renju) update_forbidden(b);
            rebuild_candidates(b);
          }
        } else {
          history.push_back(b.candidates()[rng() % b.candidates().size()]);
          b.play(history.back());
          if (b.game_over()) ++(b.winner() == 2 ? draws : wins);
        }
        expect_same(b, Board(c, b.move_count(), b.cells(), b.side_to_move()));
        expect_matches_reference(b);
        if (HasFailure()) {
          ADD_FAILURE() << "at step " << step << " after " << history.size() << " moves";
          return;
        }
      }
    }
  }
  EXPECT_GT(wins, 20);
  EXPECT_GT(draws, 20);
}

}  // namespace

}  // namespace tovan
