// The threat solver against the rules: drawn positions of each rule with a known answer, then
// seeded random positions where the VCF solver and a slow search written from the rules alone
// (threat_reference.h) must agree, every line the solver gives passing the separate checker,
// and where every VCT it claims holds against every reply.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "search/threat_moves.h"
#include "search/threat_solver.h"
#include "test_positions.h"
#include "threat_reference.h"

namespace tovan {

namespace {

using search::ThreatLimits, search::ThreatLine, search::ThreatSolver;

constexpr ThreatLimits kLimits{1000000, 10, 0};

struct Drawn {
  const char* name;
  Rule rule;
  std::vector<std::string> rows;  // on a 15 x 15 board
  int side;                       // to move, the attacker
  bool win;
};

const Drawn kDrawn[] = {
    {"five at once", Rule::Freestyle, {"", "", "", "...XXXX", "...OOO"}, 0, true},
    {"the block of the defender's four is a straight four", Rule::Standard,
     {"", "", "X", "X", "X", ".OOOOX"}, 0, true},
    {"a four, its block, then a double four", Rule::Freestyle,
     {"", "", "", "", "", "", "", "..OXXX", "......X", "......X", "..OXXX"}, 0, true},
    {"one four and no more", Rule::Freestyle, {"", "", "", "....OXX.X", "....OOO"}, 0, false},
    // Black's only five would be six in a row.
    {"an overline is no five under Standard", Rule::Standard, {"", "", "", "..XXX.XX", "..OOO"}, 0, false},
    {"an overline is a five under Freestyle", Rule::Freestyle, {"", "", "", "..XXX.XX", "..OOO"}, 0, true},
    {"a five closed at both ends is no five in Caro", Rule::StandardCaro,
     {"", "", "", ".OXXXX.O", "....O.O"}, 0, false},
    {"an open end still wins in Caro", Rule::StandardCaro, {"", "", "", ".OXXXX..", "....O.O"}, 0, true},
    // White's four on (3, 2) can only be blocked on a Black overline point.
    {"Renju: White wins where Black's block is forbidden", Rule::Renju,
     {"", "...X", "", "...O", "...O", "...O", "XXX.XX"}, 1, true},
    // (3, 6) would make two fours: not Black's to play.
    {"Renju: Black's winning four is a forbidden point", Rule::Renju,
     {"", "...O", "...X", "...X", "...X", "", "OXX.X"}, 0, false},
    {"the same four wins under Standard", Rule::Standard,
     {"", "...O", "...X", "...X", "...X", "", "OXX.X"}, 0, true},
};

TEST(ThreatSolver, DrawnPositions) {
  ThreatSolver solver(16);
  for (const Drawn& d : kDrawn) {
    SCOPED_TRACE(d.name);
    const BoardConfig config = board_config(d.rule);
    const Board board = board_from_rows(config, d.rows, d.side);
    ASSERT_FALSE(board.game_over());
    CellArray cells = board.cells();
    const int colour = d.side + 1;
    EXPECT_EQ(ref::has_vcf(config, cells, colour, 5), d.win) << "the drawing does not hold its answer";
    const ThreatLine line = solver.find_vcf(board, kLimits);
    EXPECT_EQ(line.win(), d.win);
    if (line.win()) {
      EXPECT_EQ(ref::vcf_line_fault(config, board.cells(), colour, line.moves), "");
    }
  }
}

// Random middle games on 12 x 12.
Board middle_game(std::mt19937& random, Rule rule) {
  return random_position(random, board_config(rule, 12, 12), 2, 14, 34);
}

class RandomPositions : public ::testing::TestWithParam<Rule> {};

TEST_P(RandomPositions, SolverAgreesWithTheRulesAndItsLinesCheck) {
  constexpr int kDepth = 3;
  std::mt19937 random(7 + static_cast<int>(GetParam()));
  ThreatSolver solver(16);
  int wins = 0;
  int replays_won = 0;
  int replays_lost = 0;
  for (int i = 0; i < 60; ++i) {
    const Board board = middle_game(random, GetParam());
    SCOPED_TRACE(testing::Message() << "position " << i);
    CellArray cells = board.cells();
    const ThreatLine line = solver.find_vcf(board, {kLimits.nodes, kDepth, 0});
    EXPECT_EQ(line.win(), ref::has_vcf(board.config(), cells, board.side_to_move() + 1, kDepth));
    if (!line.win()) continue;
    ++wins;
    EXPECT_EQ(ref::vcf_line_fault(board.config(), board.cells(), board.side_to_move() + 1, line.moves), "");
    // The line replayed after each stone the defender could have played first wins exactly
    // when the checker passes it there.
    Board defended(board.config(), board.move_count(), board.cells(), board.side_to_move() ^ 1);
    for (const Move stone : defended.candidates()) {
      defended.play_tentative(stone);
      if (!defended.game_over()) {
        const bool holds = ref::vcf_line_fault(board.config(), defended.cells(), board.side_to_move() + 1,
                                               line.moves) == "";
        EXPECT_EQ(search::line_still_wins(defended, line.moves), holds) << "after " << move_text(stone);
        ++(holds ? replays_won : replays_lost);
      }
      defended.undo_tentative(stone);
    }
  }
  // Both answers occur.
  EXPECT_GT(wins, 5);
  EXPECT_LT(wins, 55);
  EXPECT_GT(replays_won, 50);
  EXPECT_GT(replays_lost, 50);
}

INSTANTIATE_TEST_SUITE_P(Rules, RandomPositions,
                         ::testing::Values(Rule::Freestyle, Rule::Standard, Rule::Renju, Rule::StandardCaro),
                         [](const ::testing::TestParamInfo<Rule>& info) {
                           return std::string(rule_name(info.param));
                         });

// ---- Victories by continuous threats (VCT): each win the solver claims is judged against
// every reply by the rules-only checker, which asks the solver only for the attacker's moves.

constexpr ThreatLimits kVctLimits{200000, 10, 0};
constexpr int kMaxThrees = 2;

// The rows of a position, as the tests draw them.
std::string drawing(const Board& board) {
  std::string text;
  for (int y = 0; y < board.config().height; ++y) {
    text += "\n  \"";
    for (int x = 0; x < board.config().width; ++x) text += ".XO#"[board.cells()[cell_index(x, y)]];
    text += "\"";
  }
  return text;
}

// What is wrong with the VCT `line` the solver claims on `board` with at most kMaxThrees
// threats that are no four, "" when it checks.
std::string vct_claim_fault(ThreatSolver& solver, const Board& board, const ThreatLine& line) {
  const BoardConfig config = board.config();
  const ref::MoveOracle next = [&](const CellArray& cells, int colour, int threes) -> std::optional<Move> {
    const auto stones = std::count_if(cells.begin(), cells.end(), [](int8_t s) { return s == BLACK || s == WHITE; });
    const ThreatLine answer =
        solver.find_vct(Board(config, static_cast<int32_t>(stones), cells, colour - 1), kVctLimits, threes);
    return answer.win() ? std::optional<Move>(answer.moves[0]) : std::nullopt;
  };
  const std::string fault =
      ref::vct_fault(config, board.cells(), board.side_to_move() + 1, line.moves[0], kMaxThrees, next);
  if (fault.empty()) return "";
  std::string moves;
  for (const Move m : line.moves) moves += " " + move_text(m);
  return fault + "\nclaimed (row, column):" + moves + "\non:" + drawing(board);
}

struct DrawnVct {
  const char* name;
  Rule rule;
  std::vector<std::string> rows;  // on a 15 x 15 board
  int side;                       // to move, the attacker
  int threes;                     // the fewest threats that are no four in a win; 0 for none
};

// A '*' marks a move that only looks like a win: the checker must find its fault.
const DrawnVct kDrawnVct[] = {
    {"a three-three", Rule::Freestyle, {"", "", "", "", "", "........X", "........X", "......XX"}, 0, 1},
    {"a three that also threatens a four-three", Rule::Freestyle,
     {"", "", "", "", "", ".......X", "", "....XX", "......X", "......X", "......O"}, 0, 1},
    {"a three, then a three-three", Rule::Freestyle,
     {"", "", "", "", "", "", "", "...XX", ".......XX", ".....X"}, 0, 2},
    // White's double four on (4, 12) comes first.
    {"the defender's VCF outruns a three-three", Rule::Freestyle,
     {"", "", "", "", "", "........X", "........X", "......XX*", "....X", "....O", "....O", "....O", "XOOO"}, 0, 0},
    // On (10, 7) the three 8..10 of row 7 could only become a straight four on (7, 7), which
    // makes six on the diagonal: no three-three, and the win takes a second threat.
    {"Renju: a three whose four point is an overline is no threat", Rule::Renju,
     {"", "", "", "...O", "....X", ".....X......X", "......X....X", "........XX..O", "........X", ".........X",
      "........O.O"},
     0, 2},
    {"the same three is a threat under Standard", Rule::Standard,
     {"", "", "", "...O", "....X", ".....X......X", "......X....X", "........XX..O", "........X", ".........X",
      "........O.O"},
     0, 1},
    // White's three on (8, 7): both its ends are Black double threes.
    {"Renju: White's three that Black may not block", Rule::Renju,
     {"", "", "", "", "", ".........X.X", ".........XX", "......OO", "....XX", "...X.X"}, 1, 1},
    {"Caro: White's four closed at both ends leaves Black a three-three", Rule::StandardCaro,
     {"", "", "", "", "", "........X", "........X", "......XX", "", "", "", "", "XOOOO.X"}, 0, 1},
    {"the same four under Standard must be blocked", Rule::Standard,
     {"", "", "", "", "", "........X", "........X", "......XX*", "", "", "", "", "XOOOO.X"}, 0, 0},
};

TEST(ThreatSolver, DrawnThreatWins) {
  ThreatSolver solver(16);
  for (DrawnVct d : kDrawnVct) {
    SCOPED_TRACE(d.name);
    const std::optional<Move> refuted = take_mark(d.rows, '*');
    const Board board = board_from_rows(board_config(d.rule), d.rows, d.side);
    if (refuted) {
      EXPECT_NE(vct_claim_fault(solver, board, ThreatLine{{*refuted}}), "");
    }
    for (int threes = 0; threes <= kMaxThrees; ++threes) {
      const ThreatLine line = solver.find_vct(board, kVctLimits, threes);
      EXPECT_EQ(line.win(), d.threes > 0 && threes >= d.threes) << "threes " << threes;
      if (line.win()) {
        EXPECT_EQ(vct_claim_fault(solver, board, line), "");
      }
    }
  }
}

// The root runs many small searches one after another: one begun past the deadline must
// give up at its first position, not after a round of positions between clock readings.
TEST(ThreatSolver, ASearchBegunPastItsDeadlineStopsAtOnce) {
  const Board board = board_from_rows(board_config(Rule::Freestyle), kDrawnVct[0].rows, 0);
  ASSERT_TRUE(ThreatSolver(16).find_vct(board, kVctLimits, 1).win());
  ThreatSolver solver(16);
  const ThreatLimits past{kVctLimits.nodes, kVctLimits.depth, 1};
  const ThreatLine line = solver.find_vct(board, past, 1);
  EXPECT_TRUE(line.aborted);
  EXPECT_FALSE(line.win());
  EXPECT_EQ(line.nodes, 1);
}

// Random middle games without a VCF: the first VCTs the solver claims all check.
TEST_P(RandomPositions, ThreatWinsHoldAgainstEveryReply) {
  constexpr int kWins = 5;
  std::mt19937 random(11 + static_cast<int>(GetParam()));
  ThreatSolver solver(16);
  int wins = 0;
  for (int i = 0; i < 200 && wins < kWins; ++i) {
    const Board board = middle_game(random, GetParam());
    if (solver.find_vcf(board, kVctLimits).win()) continue;
    const ThreatLine line = solver.find_vct(board, kVctLimits, kMaxThrees);
    if (!line.win()) continue;
    ++wins;
    EXPECT_EQ(vct_claim_fault(solver, board, line), "") << "position " << i;
  }
  EXPECT_EQ(wins, kWins);
}

}  // namespace

}  // namespace tovan
