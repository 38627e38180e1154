// Swap2 opening generation with a random-mode evaluator: where the three stones may go,
// settings that leave no room, and the attempt played when none qualifies in time.
#include "search/opening.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "search/clock.h"

namespace {

struct Rig {
  std::array<Move, 3> generate(double seconds_allowed) {
    return decision::generate_opening({search, constants, board, monotonic_ns(), seconds_allowed, settings, [] {},
                                       [this](const std::string& line) { lines.push_back(line); }});
  }
  // The lines that start with `prefix`, without it.
  std::vector<std::string> said(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const std::string& line : lines) {
      if (line.starts_with(prefix)) found.push_back(line.substr(prefix.size()));
    }
    return found;
  }

  eval::Evaluator evaluator{1000, 15, 15, Rule::Freestyle, 0, 0, 16, 1, "cpu", 0, 0, "", ""};
  decision::MCTS search{nullptr, false, 1, 1, 8, {&evaluator}};
  const NodeConfig constants = make_node_config(1.6f, 1.0f, 0.0f, 0.0f);
  Board board{{Rule::Freestyle, 15, 15, 2, 4}, 0, CellArray{}, 0};
  // Qualifies at once: random mode values every move within 0.005 of an even game.
  decision::OpeningSettings settings{4, 2, 100.0f, 0.0f, -0.1f, 0.5f};
  std::vector<std::string> lines;
};

void expect_played(const Board& board, const std::array<Move, 3>& moves) {
  EXPECT_EQ(board.move_count(), 3);
  EXPECT_EQ(board.side_to_move(), 1);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(board.cell(moves[i].x, moves[i].y), i == 1 ? WHITE : BLACK) << "stone " << i;
}

TEST(GenerateOpening, PlaysThreeStonesWithinTheMarginAndRange) {
  // The last three settings leave no point for the first or the second stone.
  for (const auto& [margin, range, room] : {std::tuple{4, 2, true}, std::tuple{6, 1, true}, std::tuple{7, 1, false},
                                            std::tuple{8, 2, false}, std::tuple{5, 0, false}}) {
    SCOPED_TRACE(testing::Message() << "margin " << margin << ", range " << range);
    Rig rig;
    rig.settings.margin_range = margin;
    rig.settings.candidate_range = range;
    if (!room) {
      EXPECT_THROW(rig.generate(30.0), std::invalid_argument);
      EXPECT_EQ(rig.board.stone_count(), 0u);
      continue;
    }
    const std::array<Move, 3> moves = rig.generate(30.0);
    expect_played(rig.board, moves);
    for (int i = 0; i < 2; ++i) {
      EXPECT_GE(std::min(moves[i].x, moves[i].y), margin) << move_text(moves[i]);
      EXPECT_LE(std::max(moves[i].x, moves[i].y), 14 - margin) << move_text(moves[i]);
    }
    EXPECT_LE(std::abs(moves[1].x - moves[0].x), range);
    EXPECT_LE(std::abs(moves[1].y - moves[0].y), range);
    EXPECT_TRUE(rig.said("DEBUG opening is unqualified").empty());
  }
}

TEST(GenerateOpening, PlaysTheAttemptNearestToQualifyingWhenTimeRunsOut) {
  Rig rig;
  rig.settings.visits_threshold = 1e9f;  // never reached
  const std::array<Move, 3> moves = rig.generate(0.5);
  expect_played(rig.board, moves);
  EXPECT_EQ(rig.said("DEBUG opening is unqualified and no time is left").size(), 1u);
  // Each attempt says its first, second stone and visits; the one played has the most
  // visits (the only threshold missed), and the first such attempt wins ties.
  const std::vector<std::string> firsts = rig.said("DEBUG first move: ");
  const std::vector<std::string> seconds = rig.said("DEBUG second move: ");
  std::vector<double> visits;
  for (const std::string& text : rig.said("DEBUG visits: ")) visits.push_back(std::stod(text));
  ASSERT_EQ(firsts.size(), visits.size());
  ASSERT_EQ(seconds.size(), visits.size());
  EXPECT_EQ(rig.said("DEBUG opening is unqualified, regenerating").size(), visits.size() - 1);
  const size_t best = std::max_element(visits.begin(), visits.end()) - visits.begin();
  EXPECT_EQ(firsts[best], move_text(moves[0]));
  EXPECT_EQ(seconds[best], move_text(moves[1]));
}

}  // namespace
