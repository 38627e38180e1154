// The move decision: the move draw from the root, and decide() on positions small enough to
// search in a blink (random-mode evaluator, one search thread) under various time limits.
#include "search/decision.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "search/clock.h"
#include "test_positions.h"

namespace {

using decision::Node;

const NodeConfig kConstants = make_node_config(1.6f, 1.0f, 0.1f, 0.3f);

// A root of player 0 after `n` simulations; the child of action a ends the game with the
// value q[a] for the root's player.
std::unique_ptr<Node> searched_root(std::vector<float> prior, const std::vector<float>& q, int n) {
  auto root = std::make_unique<Node>(-1, nullptr, kConstants, eval::EvalResult{std::move(prior), {0, 0}, 0}, false, 0);
  for (int i = 0; i < n; ++i) {
    const decision::SelectResult step = root->select();
    if (step.status == decision::SelectResult::kNewSlot) {
      const float v = q[step.action];
      root->set_child(step.slot, std::make_unique<Node>(step.slot, root.get(), kConstants,
                                                        eval::EvalResult{{}, {v, -v}, 0.0f}, true, 1));
    }
    decision::NodeValue leaf = root->get_child(step.slot)->own_value();
    leaf.depth = 1.0f;
    root->backup(step.slot, leaf);
  }
  return root;
}

TEST(SampleMove, NeverDrawsAMoveWithoutWeight) {
  // Two even moves share the visits; the losing long shots must never be drawn.
  auto even = searched_root({0.45f, 0.45f, 0.05f, 0.05f}, {0, 0, -1, -1}, 40);
  std::set<int32_t> drawn;
  for (int draw = 0; draw < 200; ++draw) drawn.insert(decision::sample_move(*even, 1.0f));
  EXPECT_EQ(drawn, (std::set<int32_t>{0, 1}));
}

// A 15 x 15 Freestyle board blocked everywhere but on the given rows (padded with '#').
Board walled(const std::vector<std::pair<int, std::string>>& open_rows, int side_to_move) {
  std::vector<std::string> rows(15, std::string(15, '#'));
  for (const auto& [y, row] : open_rows) rows[y] = row + std::string(15 - row.size(), '#');
  return board_from_rows({Rule::Freestyle, 15, 15, 2, 4}, rows, side_to_move);
}

// Black to move; the only cell left is (6, 7), and filling it draws the game.
Board last_cell() { return walled({{7, "######.XO"}}, 0); }

struct Rig {
  // Move temperature 0, no time reduction, fast stop from 400 visits.
  decision::DecisionContext context(float visits_limit) {
    command_start = monotonic_ns();
    settings = {1.0f, 0.0f, 0.95f, 0.98f, 0.9f, 400.0f, visits_limit, 0.0f, settings.threats};
    return {search, kConstants, time, command_start, startup_deduction, settings,
            [this] { report_visits.push_back(search.root()->get_visits()); },
            [this](const std::string& line) { said.push_back(line); }};
  }
  float visits() const { return search.root()->get_visits(); }

  eval::Evaluator evaluator{1000, 15, 15, Rule::Freestyle, 0, 0, 16, 1, "cpu", 0, 0, "", ""};
  decision::MCTS search{nullptr, false, 1, 1, 8, {&evaluator}};
  TimeSettings time{.timeout_turn = 30000, .max_memory = std::nullopt, .time_left = 1000000};
  int64_t command_start = 0;
  float startup_deduction = 0.0f;
  decision::DecisionSettings settings{};
  std::vector<float> report_visits;
  std::vector<std::string> said;
};

TEST(Decide, AnswersASureMoveAtOnceOnlyWhenShortcutsAreAllowed) {
  Rig rig;
  const decision::Decision instant = decision::decide(rig.context(1000), last_cell(), true);
  EXPECT_EQ(instant.move, (Move{6, 7}));
  EXPECT_FALSE(instant.root_win_rate.has_value());
  EXPECT_EQ(rig.report_visits, (std::vector<float>{1.0f}));
  rig.startup_deduction = 0.05f;
  const decision::Decision searched = decision::decide(rig.context(50), last_cell(), false);
  EXPECT_EQ(searched.move, (Move{6, 7}));
  EXPECT_NEAR(searched.root_win_rate.value_or(-1), 0.5f, 0.01f);  // every line draws
  EXPECT_GT(rig.visits(), 1.0f);
  EXPECT_EQ(rig.startup_deduction, 0.0f) << "the deduction is taken once";
}

TEST(Decide, WinRateIsThatOfTheSideToMove) {
  // The only cell left completes a five for the side to move.
  for (int side : {0, 1}) {
    const Board position = side == 0 ? walled({{7, "###XXXX."}, {9, "###OOOO"}}, 0)
                                     : walled({{7, "###XXXX"}, {9, "###OOOO."}, {12, "############X"}}, 1);
    Rig rig;
    const decision::Decision result = decision::decide(rig.context(64), position, false);
    EXPECT_EQ(result.move, (Move{7, static_cast<int8_t>(side == 0 ? 7 : 9)}));
    EXPECT_GT(result.root_win_rate.value_or(-1), 0.9f) << "side " << side;
  }
}

TEST(Decide, TimeBudgetDecidesWhetherAndHowLongToSearch) {
  struct Case {
    int32_t timeout_turn, time_left;
    float startup_deduction, visits_limit;
    size_t reports;  // a search of a second or more reports after slices 1, 2, 4 and 8, and at the end
  };
  const Case cases[] = {
      {100, 1000000, 0.5f, 1e9f, 1},   // a negative budget: no search, the highest prior
      {30000, 10000, 0.0f, 1e9f, 1},   // little match time left: a brief search, not in slices
      {1250, 1000000, 0.0f, 1e9f, 5},  // what is left of the turn: twelve slices at most
      {30000, 1000000, 0.0f, 100, 2},  // 30 s, stopped by the visits limit after a slice or two
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "turn " << c.timeout_turn << " ms, match " << c.time_left << " ms");
    Rig rig;
    rig.time = {.timeout_turn = c.timeout_turn, .max_memory = std::nullopt, .time_left = c.time_left};
    rig.startup_deduction = c.startup_deduction;
    const Board position =
        c.visits_limit < 1e9f ? board_from_rows({Rule::Freestyle, 15, 15, 2, 4}, {}, 0) : last_cell();
    const decision::Decision result = decision::decide(rig.context(c.visits_limit), position, false);
    EXPECT_EQ(rig.report_visits.size(), c.reports);
    EXPECT_TRUE(result.root_win_rate.has_value());
    EXPECT_EQ(rig.visits() > 1.0f, c.startup_deduction == 0.0f);
    EXPECT_LE(rig.visits(), std::min(c.visits_limit + 7, 1e9f));
    // Move temperature 0: the candidate with the largest pruned weight.
    const std::vector<float> weights = rig.search.root()->get_pruned_weights_by_action(true);
    const std::vector<float>& prior = rig.search.root()->get_prior();
    const std::vector<float>& heaviest = rig.visits() > 1.0f ? weights : prior;
    EXPECT_EQ(result.move,
              position.candidates()[std::max_element(heaviest.begin(), heaviest.end()) - heaviest.begin()]);
  }
}

TEST(Decide, PlaysAVcfAtOnceAndKeepsOnlyTheMovesThatStopTheOpponents) {
  // White's (6, 7) makes two fours, and so does (6, 11) after any Black move but (6, 7).
  std::vector<std::string> rows = {"", ".X..........X", "", "", "", "", ".............X",
                                   "..XOOO*", "......O", "......O", "......O", "", ".X..........X"};
  const Move point = *take_mark(rows, '*');
  for (int side : {1, 0}) {
    SCOPED_TRACE(side == 1 ? "White wins" : "Black defends");
    Rig rig;
    rig.settings.threats = {true, 30, 100000, 1.0f, 0};
    const Board position = board_from_rows({Rule::Freestyle, 15, 15, 2, 4}, rows, side);
    const decision::Decision result = decision::decide(rig.context(50), position, false);
    ASSERT_FALSE(rig.said.empty());
    if (side == 1) {
      EXPECT_TRUE(result.move == point || result.move == (Move{6, 11}));
      EXPECT_TRUE(rig.said[0].starts_with("DEBUG Win 1.00 | Proof 3 | VCF ")) << rig.said[0];
    } else {
      EXPECT_EQ(result.move, point);
      EXPECT_TRUE(rig.said[0].starts_with("DEBUG VCF threat: ") && rig.said[0].ends_with("; 1 of 188 moves stop it"))
          << rig.said[0];
    }
  }
}

}  // namespace
