// The move decision: the time budget, the move draw from the root, and decide() on
// positions small enough to search in a blink (random-mode evaluator, one search thread).
#include "search/decision.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "search/clock.h"
#include "search/temperature.h"

namespace {

using decision::DecisionContext;
using decision::DecisionSettings;
using decision::Node;

TimeSettings limits(int32_t timeout_turn, int32_t time_left) {
  TimeSettings time;
  time.timeout_turn = timeout_turn;
  time.time_left = time_left;
  return time;
}

TEST(TimeBudget, SharesTheMatchTimeAndTheTurnLimit) {
  // 5% of the match time when the turn allows more ...
  EXPECT_FLOAT_EQ(decision::time_budget(limits(30000, 100000), 0.0, 0.0f, 0.0f), 5.0f);
  EXPECT_FLOAT_EQ(decision::time_budget(limits(30000, 15000), 0.0, 0.0f, 0.0f), 0.75f);
  // ... else what is left of the turn, less the elapsed time and the reduction.
  EXPECT_FLOAT_EQ(decision::time_budget(limits(3000, 100000), 0.5, 0.15f, 0.0f), 2.35f);
  // The start-up deduction comes off whichever applies.
  EXPECT_FLOAT_EQ(decision::time_budget(limits(30000, 100000), 0.0, 0.0f, 0.3f), 4.7f);
  EXPECT_FLOAT_EQ(decision::time_budget(limits(3000, 100000), 0.5, 0.15f, 0.3f), 2.05f);
  // A turn already overrun leaves a negative budget, not zero.
  EXPECT_FLOAT_EQ(decision::time_budget(limits(1000, 100000), 2.0, 0.0f, 0.0f), -1.0f);
}

TEST(TimeBudget, CapsTheBudgetWhenLittleMatchTimeIsLeft) {
  EXPECT_FLOAT_EQ(decision::time_budget(limits(30000, 14999), 0.0, 0.0f, 0.0f), 0.2f);
  EXPECT_FLOAT_EQ(decision::time_budget(limits(30000, 10000), 0.0, 0.0f, 0.0f), 0.2f);
  EXPECT_FLOAT_EQ(decision::time_budget(limits(30000, 5000), 0.0, 0.0f, 0.0f), 0.2f);
  EXPECT_FLOAT_EQ(decision::time_budget(limits(30000, 4999), 0.0, 0.0f, 0.0f), 0.02f);
  EXPECT_FLOAT_EQ(decision::time_budget(limits(30000, 4000), 0.0, 0.0f, 0.0f), 0.02f);
  // The caps only lower the budget, and come after the deduction.
  EXPECT_FLOAT_EQ(decision::time_budget(limits(30000, 10000), 0.0, 0.0f, 0.4f), 0.1f);
  EXPECT_FLOAT_EQ(decision::time_budget(limits(100, 4000), 0.0, 0.0f, 0.0f), 0.02f);
  EXPECT_FLOAT_EQ(decision::time_budget(limits(10, 4000), 0.0, 0.0f, 0.0f), 0.01f);
}

// ---------------------------------------------------------------------------------------
// The move draw, on hand-built roots whose children are finished games.

NodeConfig search_constants() { return make_node_config(1.6f, 1.0f, 0.1f, 0.3f); }

// Runs `n` simulations on a root of player 0; the child of action a ends the game with the
// value q[a] for the root's player.
void simulate(Node& root, const std::vector<float>& q, int n) {
  for (int i = 0; i < n; ++i) {
    const decision::SelectResult step = root.select();
    if (step.status == decision::SelectResult::kNewSlot) {
      const float v = q[step.action];
      root.set_child(step.slot, std::make_unique<Node>(step.slot, &root, root.constants(),
                                                       eval::EvalResult{{}, {v, -v}, 0.0f}, true, 1));
    }
    decision::NodeValue leaf = root.get_child(step.slot)->own_value();
    leaf.depth = 1.0f;
    root.backup(step.slot, leaf);
  }
}

std::unique_ptr<Node> root_with(const NodeConfig& constants, std::vector<float> prior) {
  return std::make_unique<Node>(-1, nullptr, constants, eval::EvalResult{std::move(prior), {0.0f, 0.0f}, 0.0f}, false,
                                0);
}

TEST(SampleMove, WithoutSimulationsTakesTheHighestPrior) {
  const NodeConfig constants = search_constants();
  auto root = root_with(constants, {0.2f, 0.1f, 0.6f, 0.1f});
  for (float t : {0.0f, 1.0f}) EXPECT_EQ(decision::sample_move(*root, t), 2);
}

TEST(SampleMove, LowTemperatureTakesTheHeaviestChild) {
  const NodeConfig constants = search_constants();
  // The highest prior loses: action 2 wins the game, the others lose it.
  auto root = root_with(constants, {0.1f, 0.5f, 0.3f, 0.1f});
  simulate(*root, {-1.0f, -1.0f, 1.0f, -1.0f}, 60);
  const std::vector<float> weights = root->get_pruned_weights_by_action(true);
  ASSERT_EQ(std::max_element(weights.begin(), weights.end()) - weights.begin(), 2);
  for (int draw = 0; draw < 50; ++draw) {
    EXPECT_EQ(decision::sample_move(*root, 0.0f), 2);
    EXPECT_EQ(decision::sample_move(*root, 0.001f), 2);
  }
}

TEST(SampleMove, DrawsOnlyCandidatesWithWeight) {
  const NodeConfig constants = search_constants();
  // Two even moves share the visits; the losing long shots must never be drawn.
  auto root = root_with(constants, {0.45f, 0.45f, 0.05f, 0.05f});
  simulate(*root, {0.0f, 0.0f, -1.0f, -1.0f}, 40);
  const std::vector<float> weights = root->get_pruned_weights_by_action(true);
  ASSERT_GT(weights[0], 0.0f);
  ASSERT_GT(weights[1], 0.0f);
  std::set<int32_t> drawn;
  for (int draw = 0; draw < 200; ++draw) {
    const int32_t action = decision::sample_move(*root, 1.0f);
    ASSERT_GE(action, 0);
    ASSERT_LT(action, 4);
    EXPECT_GT(weights[action], 0.0f) << "drew action " << action;
    drawn.insert(action);
  }
  EXPECT_EQ(drawn, (std::set<int32_t>{0, 1}));
}

// ---------------------------------------------------------------------------------------
// decide() with a random-mode evaluator: fast, and its prior is a softmax of tiny noise.

Move at(int x, int y) { return Move{static_cast<int8_t>(x), static_cast<int8_t>(y)}; }

// A 15 x 15 Freestyle board where every cell is blocked except the listed ones.
Board walled(const std::vector<std::pair<Move, int8_t>>& cells, int32_t side_to_move) {
  CellArray states;
  states.fill(BLOCKED);
  int32_t stones = 0;
  for (const auto& [move, state] : cells) {
    states[cell_index(move.x, move.y)] = state;
    stones += state != EMPTY;
  }
  return Board({Rule::Freestyle, 15, 15, 2, 4}, stones, states, side_to_move);
}

// Black to move; the only cell left is (6, 7), and filling it draws the game.
Board last_cell() { return walled({{at(7, 7), BLACK}, {at(8, 7), WHITE}, {at(6, 7), EMPTY}}, 0); }

Board empty_board() { return Board({Rule::Freestyle, 15, 15, 2, 4}, 0, CellArray{}, 0); }

struct Rig {
  explicit Rig(const char* model = nullptr)
      : evaluator(1000, 15, 15, Rule::Freestyle, 0, 0, 16, 1, "cpu", 0, 0, "", ""),
        search(nullptr, false, 1, 1, 8, {&evaluator}) {
    if (model) evaluator.load_model(model);
  }

  // Move temperature 0, no time reduction, fast stop from 400 visits.
  static DecisionSettings settings(float visits_limit, float root_temperature = 1.0f) {
    return {root_temperature, 0.0f, 0.95f, 0.98f, 0.9f, 400.0f, visits_limit, 0.0f};
  }
  DecisionContext context(float visits_limit, float root_temperature = 1.0f) {
    command_start = monotonic_ns();
    decision_settings = settings(visits_limit, root_temperature);
    return {search,
            constants,
            time,
            command_start,
            startup_deduction,
            decision_settings,
            [this] { report_visits.push_back(search.root()->get_visits()); }};
  }

  eval::Evaluator evaluator;
  decision::MCTS search;
  NodeConfig constants = search_constants();
  TimeSettings time = limits(30000, 1000000);
  int64_t command_start = 0;
  float startup_deduction = 0.0f;
  DecisionSettings decision_settings{};
  std::vector<float> report_visits;
};

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(Decide, AnswersASureMoveAtOnceOnlyWhenShortcutsAreAllowed) {
  Rig rig;
  rig.time = limits(300, 1000000);
  const Board position = last_cell();
  ASSERT_EQ(position.candidates.size(), 1u);

  const decision::Decision instant = decision::decide(rig.context(1000), position, true);
  EXPECT_EQ(instant.move, at(6, 7));
  EXPECT_FALSE(instant.root_win_rate.has_value());
  EXPECT_EQ(rig.search.root()->get_visits(), 1.0f);
  EXPECT_EQ(rig.report_visits, (std::vector<float>{1.0f}));

  rig.report_visits.clear();
  rig.startup_deduction = 0.05f;
  const decision::Decision searched = decision::decide(rig.context(50), position, false);
  EXPECT_EQ(searched.move, at(6, 7));
  ASSERT_TRUE(searched.root_win_rate.has_value());
  EXPECT_NEAR(*searched.root_win_rate, 0.5f, 0.01f);  // every line draws
  EXPECT_GT(rig.search.root()->get_visits(), 1.0f);
  EXPECT_EQ(rig.report_visits.size(), 1u);
  EXPECT_EQ(rig.startup_deduction, 0.0f) << "the deduction is taken once";
}

// The root temperature that sharpens `policy` until its largest entry is `target`, or the
// nearest value below it when rounding skips it.
float temperature_for(const std::vector<float>& policy, float target) {
  auto largest = [&](float t) {
    std::vector<float> p = policy;
    decision::apply_temperature(p, t);
    return *std::max_element(p.begin(), p.end());
  };
  float sharp = 0.001f;  // the largest entry falls as the temperature rises
  float flat = 1000.0f;
  while (std::nextafter(sharp, flat) < flat) {
    const float t = sharp + (flat - sharp) / 2.0f;
    const float top = largest(t);
    if (top == target) return t;
    (top > target ? sharp : flat) = t;
  }
  return flat;
}

TEST(Decide, ShortcutTakesAPriorOfExactlyFloat099) {
  // Two cells left; the test network's prior depends only on the root temperature.
  const Board position = walled({{at(7, 7), BLACK}, {at(8, 7), WHITE}, {at(6, 7), EMPTY}, {at(9, 7), EMPTY}}, 0);
  ASSERT_EQ(position.candidates.size(), 2u);
  for (float target : {0.99f, std::nextafter(0.99f, 0.0f)}) {
    Rig rig(TEST_MODEL_DIR "/tiny40.onnx");
    auto futures = rig.evaluator.submit({&position}, 1);
    rig.evaluator.flush();
    const float temperature = temperature_for(futures[0].get().policy, target);
    const decision::Decision result = decision::decide(rig.context(100, temperature), position, true);
    const std::vector<float>& prior = rig.search.root()->get_prior();
    const float top = *std::max_element(prior.begin(), prior.end());
    // 0.99f is 0.99000000954 and passes; anything below it does not.
    const bool instant = target == 0.99f;
    if (instant)
      ASSERT_EQ(top, 0.99f);
    else
      ASSERT_TRUE(top < 0.99f && top > 0.9899f) << top;
    EXPECT_NE(result.root_win_rate.has_value(), instant) << top;
    EXPECT_NE(rig.search.root()->get_visits() > 1.0f, instant) << top;
  }
}

TEST(Decide, WinRateIsThatOfTheSideToMove) {
  // The only cell left completes a five for the side to move.
  std::vector<std::pair<Move, int8_t>> cells;
  for (int x = 3; x <= 6; ++x) cells.push_back({at(x, 7), BLACK});
  for (int x = 3; x <= 6; ++x) cells.push_back({at(x, 9), WHITE});
  for (int32_t side : {0, 1}) {
    SCOPED_TRACE(side == 0 ? "Black to move" : "White to move");
    std::vector<std::pair<Move, int8_t>> position = cells;
    const Move winning = side == 0 ? at(7, 7) : at(7, 9);
    if (side == 1) position.push_back({at(12, 12), BLACK});
    position.push_back({winning, EMPTY});
    Rig rig;
    const decision::Decision result = decision::decide(rig.context(64), walled(position, side), false);
    EXPECT_EQ(result.move, winning);
    ASSERT_TRUE(result.root_win_rate.has_value());
    EXPECT_GT(*result.root_win_rate, 0.9f);
  }
}

TEST(Decide, SearchesAnUnclearPositionUpToTheVisitsLimit) {
  Rig rig;  // a 30 s budget: searched in slices, stopped by the visits limit
  const Board position = empty_board();
  const auto start = std::chrono::steady_clock::now();
  const decision::Decision result = decision::decide(rig.context(100), position, true);
  EXPECT_LT(seconds_since(start), 10.0);
  EXPECT_GE(rig.search.root()->get_visits(), 100.0f);
  EXPECT_LE(rig.search.root()->get_visits(), 108.0f);
  ASSERT_TRUE(result.root_win_rate.has_value());
  // Move temperature 0: the candidate with the largest pruned weight.
  const std::vector<float> weights = rig.search.root()->get_pruned_weights_by_action(true);
  EXPECT_EQ(result.move, position.candidates[std::max_element(weights.begin(), weights.end()) - weights.begin()]);
  EXPECT_EQ(rig.report_visits.size(), 2u);  // after the first slice, and at the end
}

TEST(Decide, NoTimeLeftStillGivesTheHighestPriorMove) {
  Rig rig;
  rig.time = limits(100, 1000000);
  rig.startup_deduction = 0.5f;  // the budget falls below zero
  const Board position = empty_board();
  const decision::Decision result = decision::decide(rig.context(1000), position, true);
  EXPECT_EQ(rig.search.root()->get_visits(), 1.0f);
  const std::vector<float>& prior = rig.search.root()->get_prior();
  EXPECT_EQ(result.move, position.candidates[std::max_element(prior.begin(), prior.end()) - prior.begin()]);
  EXPECT_TRUE(result.root_win_rate.has_value());
  EXPECT_EQ(rig.report_visits.size(), 1u);
}

TEST(Decide, ReportsAfterSlicesOneTwoFourAndEight) {
  Rig rig;
  rig.time = limits(1250, 1000000);  // 1.25 s: twelve slices at most
  const auto start = std::chrono::steady_clock::now();
  decision::decide(rig.context(1e9f), last_cell(), false);
  EXPECT_LT(seconds_since(start), 5.0);
  ASSERT_EQ(rig.report_visits.size(), 5u);
  EXPECT_TRUE(std::is_sorted(rig.report_visits.begin(), rig.report_visits.end()));
  EXPECT_GT(rig.report_visits.back(), rig.report_visits.front());
}

}  // namespace
