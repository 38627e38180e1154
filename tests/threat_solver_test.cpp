// The VCF solver against the rules: drawn positions of each rule with a known answer, then
// seeded random positions where the solver and a slow search written from the rules alone
// (threat_reference.h) must agree, every line the solver gives passing the separate checker.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "search/threat_solver.h"
#include "test_positions.h"
#include "threat_reference.h"

namespace {

using decision::ThreatLimits, decision::ThreatLine, decision::ThreatSolver;

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
    const BoardConfig config{d.rule, 15, 15, 2, 4};
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
  return random_position(random, {rule, 12, 12, 2, 4}, 2, 14, 34);
}

class RandomPositions : public ::testing::TestWithParam<Rule> {};

TEST_P(RandomPositions, SolverAgreesWithTheRulesAndItsLinesCheck) {
  constexpr int kDepth = 3;
  std::mt19937 random(7 + static_cast<int>(GetParam()));
  ThreatSolver solver(16);
  int wins = 0;
  for (int i = 0; i < 60; ++i) {
    const Board board = middle_game(random, GetParam());
    SCOPED_TRACE(testing::Message() << "position " << i);
    CellArray cells = board.cells();
    const ThreatLine line = solver.find_vcf(board, {kLimits.nodes, kDepth, 0});
    EXPECT_EQ(line.win(), ref::has_vcf(board.config(), cells, board.side_to_move() + 1, kDepth));
    if (!line.win()) continue;
    ++wins;
    EXPECT_EQ(ref::vcf_line_fault(board.config(), board.cells(), board.side_to_move() + 1, line.moves), "");
  }
  // Both answers occur.
  EXPECT_GT(wins, 5);
  EXPECT_LT(wins, 55);
}

INSTANTIATE_TEST_SUITE_P(Rules, RandomPositions,
                         ::testing::Values(Rule::Freestyle, Rule::Standard, Rule::Renju, Rule::StandardCaro),
                         [](const ::testing::TestParamInfo<Rule>& info) {
                           return std::string(rule_name(info.param));
                         });

// Wins by one threat that is no four, found by the solver in random positions: every
// allowed reply of the defender must leave a VCF.
void check_threat_wins(Rule rule) {
  constexpr int kDepth = 4;
  std::mt19937 random(11 + static_cast<int>(rule));
  ThreatSolver solver(16);
  int found = 0;
  for (int i = 0; i < 300 && found < 6; ++i) {
    const Board board = middle_game(random, rule);
    if (solver.find_vcf(board, {kLimits.nodes, kDepth, 0}).win()) continue;
    const ThreatLine line = solver.find_vct(board, {kLimits.nodes, kDepth, 0}, 1);
    if (!line.win()) continue;
    ++found;
    EXPECT_EQ(ref::threat_fault(board.config(), board.cells(), board.side_to_move() + 1, line.moves[0], kDepth), "")
        << "position " << i << ", threat " << move_text(line.moves[0]);
  }
  EXPECT_EQ(found, 6);
}

TEST(ThreatSolver, ThreatWinsHoldAgainstEveryReply) {
  for (const Rule rule : {Rule::Freestyle, Rule::Standard, Rule::StandardCaro}) {
    SCOPED_TRACE(rule_name(rule));
    check_threat_wins(rule);
  }
}

}  // namespace
