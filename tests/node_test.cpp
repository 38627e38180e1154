// Tree nodes on small hand-built trees: the selection arithmetic (first-play urgency,
// exploration counts, forced playouts, ties), collisions and terminal children, backup
// and the best child, value averages and pruned weights, the two root modes, and the
// probability helpers. Numbers in the comments are worked out by hand from the formulas.
#include "search/node.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <iomanip>
#include <memory>
#include <numeric>
#include <optional>
#include <set>
#include <vector>

#include "search/simulation.h"
#include "search/temperature.h"

namespace {

using decision::Node;
using decision::NodeValue;
using decision::SelectResult;

NodeConfig constants(float c_puct, float virtual_loss_index, float fpu_min = 0.0f, float fpu_max = 0.0f) {
  return make_node_config(c_puct, virtual_loss_index, fpu_min, fpu_max);
}

// A root for player 0 with the given prior and value.
std::unique_ptr<Node> make_root(const NodeConfig& config, std::vector<float> prior, float value = 0.0f,
                                float draw_rate = 0.0f) {
  return std::make_unique<Node>(-1, nullptr, config, eval::EvalResult{std::move(prior), {value, -value}, draw_rate},
                                false, 0);
}

// Answers the pending `slot` of `node` with a child worth `q` to the node's player (its
// opponent to move) and backs it up through `node` and every ancestor, as a descent would.
Node* answer(Node& node, int32_t slot, float q, std::vector<float> policy = {1.0f}, bool terminal = false,
             float draw_rate = 0.0f) {
  std::array<float, 2> values{};
  values[node.side()] = q;
  values[1 - node.side()] = -q;
  node.set_child(
      slot, std::make_unique<Node>(slot, &node, node.constants(),
                                   eval::EvalResult{std::move(policy), values, draw_rate}, terminal, 1 - node.side()));
  Node* child = node.get_child(slot);
  NodeValue leaf = child->own_value();
  for (Node* at = &node; at != nullptr; slot = at->index_in_parent(), at = at->parent()) {
    leaf.depth += 1.0f;
    at->backup(slot, leaf);
  }
  return child;
}

SelectResult select_expecting(Node& node, SelectResult::Status status, int32_t action) {
  const SelectResult result = node.select();
  EXPECT_EQ(result.status, status);
  EXPECT_EQ(result.action, action);
  return result;
}

// ---------------------------------------------------------------------------------------
// Selection

TEST(NodeSelect, FirstSelectionTakesTheHighestPriorWithLowestIndexOnTies) {
  auto root = make_root(constants(1.0f, 1.0f), {0.1f, 0.3f, 0.3f, 0.3f});
  const SelectResult first = select_expecting(*root, SelectResult::kNewSlot, 1);
  EXPECT_TRUE(first.needs_evaluation);
  EXPECT_EQ(first.slot, 0);
  EXPECT_EQ(root->get_visits(), 2.0f);
  EXPECT_EQ(root->get_visits_by_action(), (std::vector<float>{0, 1, 0, 0}));
  EXPECT_EQ(root->get_q_by_action()[1], 0.0f);  // no best child yet: first-play value 0
  EXPECT_EQ(root->get_best_child(), -1);
  // Slot 0 is pending (U * 0.3 / 3); candidates 2 and 3 tie at U * 0.3: the lower wins.
  const SelectResult second = select_expecting(*root, SelectResult::kNewSlot, 2);
  EXPECT_EQ(second.slot, 1);
  EXPECT_EQ(root->get_visits(), 3.0f);
}

TEST(NodeSelect, FirstSelectionCountsTwoToTheIndexOfExploration) {
  // Prior 0.7 / 0.3. At N = 2 the pending slot scores U * 0.7 / (explore + 1): with
  // explore = 2^1 that is U * 0.233 < U * 0.3, so the second candidate opens; with
  // explore = 2^0 it is U * 0.35 and the pending slot itself is chosen: a collision,
  // which at the root changes nothing.
  auto spread = make_root(constants(1.0f, 1.0f), {0.7f, 0.3f});
  select_expecting(*spread, SelectResult::kNewSlot, 0);
  select_expecting(*spread, SelectResult::kNewSlot, 1);

  auto flat = make_root(constants(1.0f, 0.0f), {0.7f, 0.3f});
  select_expecting(*flat, SelectResult::kNewSlot, 0);
  select_expecting(*flat, SelectResult::kCollision, 0);
  EXPECT_EQ(flat->get_visits(), 2.0f);
  EXPECT_EQ(flat->get_visits_by_action(), (std::vector<float>{1, 0}));
}

// Prior 0.81 / 0.19, child value 0. After one backup (explore 1) the slot is descended
// again at N = 2 (U * 0.405 > U * 0.19): N becomes 3 and explore 1 + 3^index. At N = 3
// the slot scores U * 0.81 / (2 + 3^index): 0.162 with index 1 (the second candidate,
// 0.19, opens) and 0.217 with index 0.5 (the slot again). A backup in between resets
// explore to the slot's 2 visits: 0.27, the slot again.
class ExplorationCount : public ::testing::TestWithParam<float> {};

TEST_P(ExplorationCount, GrowsByPowerOfVisitsAndBackupResetsIt) {
  const float index = GetParam();
  for (bool backed_up : {false, true}) {
    SCOPED_TRACE(backed_up ? "backed up" : "in flight");
    auto root = make_root(constants(1.0f, index), {0.81f, 0.19f});
    select_expecting(*root, SelectResult::kNewSlot, 0);
    answer(*root, 0, 0.0f);
    const SelectResult again = select_expecting(*root, SelectResult::kDescend, 0);
    EXPECT_TRUE(again.needs_evaluation);
    EXPECT_EQ(root->get_visits(), 3.0f);
    EXPECT_EQ(root->get_visits_by_action()[0], 2.0f);
    if (backed_up) root->backup(0, root->get_child(0)->own_value());
    const bool opens_second = index == 1.0f && !backed_up;
    select_expecting(*root, opens_second ? SelectResult::kNewSlot : SelectResult::kDescend, opens_second ? 1 : 0);
  }
}

INSTANTIATE_TEST_SUITE_P(VirtualLossIndex, ExplorationCount, ::testing::Values(1.0f, 0.5f));

// Prior 0.4 / 0.35 / 0.25 with c = 10, so the priors decide the first three selections:
// candidate 0, then 1, then 2 opens at N = 3, getting the first-play value as its q.
// Children worth 0.2 (candidate 0) and -0.4 (candidate 1): mean (0.2 - 0.4) / 2 = -0.1,
// best 0.2.
float first_play_value(float fpu_min, float fpu_max) {
  auto root = make_root(constants(10.0f, 1.0f, fpu_min, fpu_max), {0.4f, 0.35f, 0.25f});
  select_expecting(*root, SelectResult::kNewSlot, 0);
  answer(*root, 0, 0.2f);
  select_expecting(*root, SelectResult::kNewSlot, 1);
  answer(*root, 1, -0.4f);
  select_expecting(*root, SelectResult::kNewSlot, 2);
  return root->get_q_by_action()[2];
}

TEST(NodeSelect, FirstPlayValueIsTheMeanClampedBelowTheBestChild) {
  // Band [0.2 - 0.3, 0.2 - 0.1] = [-0.1, 0.1] holds the mean -0.1.
  EXPECT_FLOAT_EQ(first_play_value(0.1f, 0.3f), -0.1f);
  // Band [-0.4, -0.15]: the mean is above it, clamped to -0.15.
  EXPECT_FLOAT_EQ(first_play_value(0.35f, 0.6f), -0.15f);
  // Band [-0.05, 0.2]: the mean is below it, raised to -0.05.
  EXPECT_FLOAT_EQ(first_play_value(0.0f, 0.25f), -0.05f);
}

TEST(NodeSelect, ForcedPlayoutsPickALaggingChildAtAnExploringRoot) {
  // Prior 0.5 / 0.5, so the noisy prior n is 0.375..0.625 for each. The first-chosen
  // child a is worth 0.9, the other b -0.9; at N = 2 b opens (n_b > n_a / 2). At N = 3 b
  // (1 visit) is capped by a's single visit: no bonus, a again. At N = 4 a has 2 visits
  // and b is forced when sqrt(n_b * k * 4) >= 2, i.e. n_b * k >= 1: always for k = 3 and
  // 1000, never for k = 1. Without root exploration there are no forced playouts.
  struct Case {
    float k;
    bool exploring;
    int32_t fourth_slot;
  };
  for (const Case& c : {Case{1000.0f, true, 1}, Case{3.0f, true, 1}, Case{1.0f, true, 0}, Case{1000.0f, false, 0}}) {
    SCOPED_TRACE(testing::Message() << "k " << c.k << (c.exploring ? " exploring" : " plain"));
    NodeConfig config = constants(1.0f, 1.0f);
    config.forced_playout_k = c.k;
    auto root = make_root(config, {0.5f, 0.5f});
    if (c.exploring) root->enable_root_exploration();
    EXPECT_EQ(root->select().status, SelectResult::kNewSlot);
    answer(*root, 0, 0.9f);
    EXPECT_EQ(root->select().status, SelectResult::kNewSlot);
    answer(*root, 1, -0.9f);
    const SelectResult third = root->select();
    EXPECT_EQ(third.status, SelectResult::kDescend);
    EXPECT_EQ(third.slot, 0);
    root->backup(0, root->get_child(0)->own_value());
    const SelectResult fourth = root->select();
    EXPECT_EQ(fourth.status, SelectResult::kDescend);
    EXPECT_EQ(fourth.slot, c.fourth_slot);
  }
}

// ---------------------------------------------------------------------------------------
// Collisions and terminal children

TEST(NodeSelect, CollisionGivesBackTheVisitsOfEveryAncestorOnly) {
  // root -> a -> b, one candidate each. b's only slot waits for its evaluation.
  auto root = make_root(constants(1.0f, 1.0f), {1.0f});
  select_expecting(*root, SelectResult::kNewSlot, 0);
  Node* a = answer(*root, 0, 0.1f);
  select_expecting(*root, SelectResult::kDescend, 0);
  select_expecting(*a, SelectResult::kNewSlot, 0);
  Node* b = answer(*a, 0, 0.2f);
  select_expecting(*root, SelectResult::kDescend, 0);
  select_expecting(*a, SelectResult::kDescend, 0);
  select_expecting(*b, SelectResult::kNewSlot, 0);
  ASSERT_EQ(root->get_visits(), 4.0f);
  ASSERT_EQ(a->get_visits(), 3.0f);
  ASSERT_EQ(b->get_visits(), 2.0f);

  // A second descent reaches the pending slot.
  select_expecting(*root, SelectResult::kDescend, 0);
  select_expecting(*a, SelectResult::kDescend, 0);
  ASSERT_EQ(root->get_visits(), 5.0f);
  select_expecting(*b, SelectResult::kCollision, 0);
  EXPECT_EQ(root->get_visits(), 4.0f);
  EXPECT_EQ(root->get_visits_by_action()[0], 3.0f);
  EXPECT_EQ(a->get_visits(), 3.0f);
  EXPECT_EQ(a->get_visits_by_action()[0], 2.0f);
  EXPECT_EQ(b->get_visits(), 2.0f);
  EXPECT_EQ(b->get_visits_by_action()[0], 1.0f);
}

TEST(NodeSelect, TerminalChildIsVisitedByCountingAndCollidesWhileInFlight) {
  // A root (value 0.1, draw 0.2) whose only move wins the game for it.
  auto root = make_root(constants(1.0f, 1.0f), {1.0f}, 0.1f, 0.2f);
  select_expecting(*root, SelectResult::kNewSlot, 0);
  Node* win = answer(*root, 0, 1.0f, {}, true);
  ASSERT_EQ(root->get_visits(), 2.0f);

  const SelectResult visit = select_expecting(*root, SelectResult::kTerminal, 0);
  EXPECT_FALSE(visit.needs_evaluation);
  EXPECT_EQ(visit.slot, 0);
  EXPECT_EQ(root->get_visits(), 3.0f);
  EXPECT_EQ(root->get_visits_by_action()[0], 2.0f);
  EXPECT_EQ(win->get_visits(), 2.0f);

  // Not backed up yet: a second visit collides and nothing moves.
  select_expecting(*root, SelectResult::kCollision, 0);
  EXPECT_EQ(root->get_visits(), 3.0f);
  EXPECT_EQ(win->get_visits(), 2.0f);

  NodeValue leaf = win->own_value();
  leaf.depth = 1.0f;
  root->backup(0, leaf);
  select_expecting(*root, SelectResult::kTerminal, 0);
  EXPECT_EQ(win->get_visits(), 3.0f);
  EXPECT_EQ(root->get_visits(), 4.0f);

  // Mean of the own evaluation and two wins; the child itself keeps its own value.
  const NodeValue value = root->get_value();
  EXPECT_FLOAT_EQ(value.values[0], (0.1f + 2.0f) / 3.0f);
  EXPECT_FLOAT_EQ(value.values[1], (-0.1f - 2.0f) / 3.0f);
  EXPECT_FLOAT_EQ(value.draw_rate, 0.2f / 3.0f);
  EXPECT_FLOAT_EQ(value.depth, 2.0f / 3.0f);
  EXPECT_FLOAT_EQ(root->get_own_side_value(), (0.1f + 2.0f) / 3.0f);
  EXPECT_EQ(win->get_value().values[0], 1.0f);
  EXPECT_EQ(win->get_value().depth, 0.0f);
}

// ---------------------------------------------------------------------------------------
// Backup, best child, values and pruned weights

// Prior 0.38 / 0.2 / 0.18 / 0.24, children worth 0.2, -0.6, 0.15 and 0.3 to the root.
// With c = 1 the selections, each backed up at once, open 0, 3, 1, 2 and then descend
// 0, 3, 0, 3 (every margin at least 0.02).
struct FourChildren {
  std::unique_ptr<Node> root;
  std::vector<int32_t> best_actions;  // after each backup
};

FourChildren four_children(bool exploring, int steps = 7, float c_puct = 1.0f) {
  const std::vector<float> worth = {0.2f, -0.6f, 0.15f, 0.3f};
  FourChildren tree{make_root(constants(c_puct, 1.0f), {0.38f, 0.2f, 0.18f, 0.24f}, 0.05f, 0.5f), {}};
  if (exploring) tree.root->enable_root_exploration();
  for (int step = 0; step < steps; ++step) {
    const SelectResult result = tree.root->select();
    if (result.status == SelectResult::kNewSlot) {
      answer(*tree.root, result.slot, worth[result.action], {1.0f}, false, 0.1f * result.action);
    } else {
      EXPECT_EQ(result.status, SelectResult::kDescend);
      NodeValue leaf = tree.root->get_child(result.slot)->own_value();
      leaf.depth = 1.0f;
      tree.root->backup(result.slot, leaf);
    }
    tree.best_actions.push_back(tree.root->get_best_action());
  }
  return tree;
}

TEST(NodeBackup, BestChildHasMostCompletedVisitsThenStrictlyHigherValue) {
  const FourChildren tree = four_children(false);
  // 0 first; 3 equals it in visits and is worth more; 1 (-0.6) and 2 (0.15 < 0.3) equal
  // it in visits but are worth less; 0 overtakes with 2 visits; 3 draws level at 2 and is
  // worth more; 0 overtakes with 3.
  EXPECT_EQ(tree.best_actions, (std::vector<int32_t>{0, 3, 3, 3, 0, 3, 0}));
  Node& root = *tree.root;
  EXPECT_EQ(root.get_visits_by_action(), (std::vector<float>{3, 1, 1, 2}));
  EXPECT_EQ(root.get_visits(), 8.0f);
  EXPECT_EQ(root.get_best_child(), 0);
  EXPECT_EQ(root.get_best_child_visits(), 3.0f);
  const std::vector<float> q = root.get_q_by_action();
  EXPECT_FLOAT_EQ(q[0], 0.2f);
  EXPECT_FLOAT_EQ(q[1], -0.6f);
  EXPECT_FLOAT_EQ(q[2], 0.15f);
  EXPECT_FLOAT_EQ(q[3], 0.3f);

  // Running mean of the own evaluation and the seven leaves (all at depth 1).
  const NodeValue value = root.get_value();
  EXPECT_NEAR(value.values[0], (0.05 + 3 * 0.2 - 0.6 + 0.15 + 2 * 0.3) / 8, 1e-6);
  EXPECT_NEAR(value.values[1], -(0.05 + 3 * 0.2 - 0.6 + 0.15 + 2 * 0.3) / 8, 1e-6);
  EXPECT_NEAR(value.draw_rate, (0.5 + 0.1 + 0.2 + 2 * 0.3) / 8, 1e-6);
  EXPECT_NEAR(value.depth, 7.0 / 8, 1e-6);
}

TEST(NodeBackup, BalancedModeScoresChildrenByClosenessToAnEvenGame) {
  auto root = make_root(constants(1.0f, 1.0f), {0.9f, 0.1f});
  root->enable_balanced_mode();
  EXPECT_EQ(root->get_prior(), (std::vector<float>{0.5f, 0.5f}));
  select_expecting(*root, SelectResult::kNewSlot, 0);
  answer(*root, 0, 0.3f);
  select_expecting(*root, SelectResult::kNewSlot, 1);
  answer(*root, 1, -0.3f);
  const std::vector<float> q = root->get_q_by_action();
  EXPECT_FLOAT_EQ(q[0], -0.3f);
  EXPECT_FLOAT_EQ(q[1], -0.3f);
  EXPECT_EQ(root->get_best_child(), 0);  // equal, not higher
  // The root's value still averages the real values.
  EXPECT_NEAR(root->get_value().values[0], 0.0, 1e-6);
}

TEST(NodeBackup, BalancedModeMultipliesTheExplorationConstant) {
  // Uniform prior 0.5, c_puct 0.2, reductions 0.1 / 0.3. After one child (q -0.3) the
  // slot scores U * 0.25 - 0.3 and the other candidate U * 0.5 - 0.4 (mean clamped to
  // best - 0.1): it opens when U = c * sqrt(2) > 0.4, so with c = 2 * 0.2 but not 0.2.
  for (float factor : {2.0f, 1.0f}) {
    NodeConfig config = constants(0.2f, 1.0f, 0.1f, 0.3f);
    config.balanced_c_factor = factor;
    auto root = make_root(config, {0.7f, 0.3f});
    root->enable_balanced_mode();
    select_expecting(*root, SelectResult::kNewSlot, 0);
    answer(*root, 0, 0.3f);
    const SelectResult second = root->select();
    EXPECT_EQ(second.action, factor == 2.0f ? 1 : 0) << "factor " << factor;
  }
}

TEST(NodeBackup, ValueAndDepthComeUpFromTheLeafThroughEveryLevel) {
  // Two stones each, Black to move; one-hot priors, so that the second descent goes one
  // level deeper.
  Board board(BoardConfig{Rule::Freestyle, 15, 15, 2, 4}, 0, CellArray{}, 0);
  for (Move move : {Move{7, 7}, Move{7, 8}, Move{8, 8}, Move{6, 6}}) board.play(move);
  ASSERT_EQ(board.side_to_move, 0);
  std::vector<float> prior(board.candidates.size(), 0.0f);
  prior[5] = 1.0f;
  auto root = make_root(constants(1.0f, 1.0f), prior, 0.3f, 0.0f);

  std::optional<decision::Leaf> leaf = decision::descend(*root, board);
  ASSERT_TRUE(leaf.has_value());
  EXPECT_TRUE(leaf->needs_evaluation);
  EXPECT_EQ(leaf->node, root.get());
  EXPECT_EQ(leaf->board->cell(board.candidates[5].x, board.candidates[5].y), BLACK);
  EXPECT_EQ(leaf->board->side_to_move, 1);
  std::vector<float> child_prior(leaf->board->candidates.size(), 0.0f);
  child_prior[0] = 1.0f;
  const eval::EvalResult first{child_prior, {0.6f, -0.6f}, 0.2f};
  decision::back_up(*leaf, &first);
  Node* child = root->get_child(0);
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(child->side(), 1);
  EXPECT_FALSE(child->terminal());

  leaf = decision::descend(*root, board);
  ASSERT_TRUE(leaf.has_value());
  EXPECT_EQ(leaf->node, child);
  EXPECT_EQ(leaf->board->stone_count, board.stone_count + 2);
  const eval::EvalResult second{std::vector<float>(leaf->board->candidates.size(), 0.01f), {-0.3f, 0.3f}, 0.5f};
  decision::back_up(*leaf, &second);

  // The child: its own 0.6 and the grandchild's -0.3 one ply below.
  const NodeValue below = child->get_value();
  EXPECT_FLOAT_EQ(below.values[0], 0.15f);
  EXPECT_FLOAT_EQ(below.draw_rate, 0.35f);
  EXPECT_FLOAT_EQ(below.depth, 0.5f);
  // The root: 0.3, 0.6 at depth 1, -0.3 at depth 2.
  const NodeValue top = root->get_value();
  EXPECT_FLOAT_EQ(top.values[0], 0.2f);
  EXPECT_FLOAT_EQ(top.values[1], -0.2f);
  EXPECT_FLOAT_EQ(top.draw_rate, 0.7f / 3.0f);
  EXPECT_FLOAT_EQ(top.depth, 1.0f);
  EXPECT_FLOAT_EQ(root->get_q_by_action()[5], 0.15f);
}

TEST(NodeBackup, PrunedWeightsKeepOnlyVisitsAChildWouldHaveEarned) {
  // Completed 8, k = sqrt(8); best: candidate 0 with 3 visits, target k * 0.38 / 4 + 0.2
  // = 0.46870. Candidate 1: u + q = k * 0.2 - 0.6 < target, weight 0. Candidate 2:
  // r = k * 0.18 / (0.46870 - 0.15) - 1 = 0.59748 of its 1 visit. Candidate 3:
  // r = k * 0.24 / (0.46870 - 0.3) - 1 = 3.024, capped at its 2 visits. The best child
  // keeps its 3.
  const FourChildren tree = four_children(false);
  Node& root = *tree.root;
  const std::vector<float> weights = root.get_pruned_weights_by_action(false);
  ASSERT_EQ(weights.size(), 4u);
  EXPECT_FLOAT_EQ(weights[0], 3.0f);
  EXPECT_EQ(weights[1], 0.0f);
  EXPECT_NEAR(weights[2], 0.59748, 1e-4);
  EXPECT_EQ(weights[3], 2.0f);
  // A visit in flight counts in the visits but not in the completed visits the weights use.
  EXPECT_EQ(root.select().status, SelectResult::kDescend);
  EXPECT_EQ(root.get_pruned_weights_by_action(false), weights);
  const std::vector<float> normalised = root.get_pruned_weights_by_action(true);
  const float total = 3.0f + 0.59748f + 2.0f;
  EXPECT_NEAR(normalised[0], 3.0f / total, 1e-5);
  EXPECT_EQ(normalised[1], 0.0f);
  EXPECT_NEAR(normalised[2], 0.59748f / total, 1e-5);
  EXPECT_NEAR(normalised[3], 2.0f / total, 1e-5);
}

TEST(NodeBackup, BestChildKeepsEveryCompletedVisitInThePrunedWeights) {
  // Seven visits: the best child, candidate 0, has 3.
  {
    const FourChildren tree = four_children(false, 7);
    const float weight = tree.root->get_pruned_weights_by_action(false)[0];
    EXPECT_EQ(weight, 3.0f) << std::setprecision(9) << weight;
  }
  // Eight: candidate 3 draws level at 3 visits and, worth more, is the best child;
  // candidate 0 keeps its 3 (its r is above 3). The move with most weight must still be
  // the best child, not the one it displaced.
  {
    const FourChildren tree = four_children(false, 8);
    ASSERT_EQ(tree.root->get_best_action(), 3);
    const std::vector<float> weights = tree.root->get_pruned_weights_by_action(false);
    EXPECT_EQ(weights[0], 3.0f) << std::setprecision(9) << weights[0];
    EXPECT_EQ(weights[3], 3.0f) << std::setprecision(9) << weights[3];
    EXPECT_GE(weights[3], weights[0]) << std::setprecision(9) << weights[3] << " < " << weights[0];
  }
  // No exploration term at all (c = 0): every child but the best loses its visits.
  {
    const FourChildren tree = four_children(false, 4, 0.0f);
    const int32_t best = tree.root->get_best_action();
    const std::vector<float> visits = tree.root->get_visits_by_action();
    EXPECT_EQ(tree.root->get_pruned_weights_by_action(false)[best], visits[best]);
  }
}

TEST(NodeBackup, ExploringRootAveragesItsChildrenByPrunedWeight) {
  // The noise makes the path random; whatever it was, the root's value is its own
  // evaluation plus each child's value (one ply deeper) by its pruned weight.
  for (int repeat = 0; repeat < 8; ++repeat) {
    FourChildren tree = four_children(true);
    Node& root = *tree.root;
    const std::vector<float> weights = root.get_pruned_weights_by_action(false);
    const std::vector<float> q = root.get_q_by_action();
    const std::vector<float> visits = root.get_visits_by_action();
    double sum[4] = {0.05, -0.05, 0.5, 0.0};
    double weight_sum = 1.0;
    const auto slots = std::count_if(visits.begin(), visits.end(), [](float v) { return v > 0.0f; });
    for (int32_t slot = 0; slot < slots; ++slot) {
      Node* child = root.get_child(slot);
      ASSERT_NE(child, nullptr);
      const NodeValue value = child->get_value();
      // Children differ in their value to the root: that finds the candidate.
      const auto action = std::find(q.begin(), q.end(), value.values[0]) - q.begin();
      ASSERT_LT(action, 4);
      const double w = weights[action];
      weight_sum += w;
      sum[0] += w * value.values[0];
      sum[1] += w * value.values[1];
      sum[2] += w * value.draw_rate;
      sum[3] += w * (value.depth + 1.0);
    }
    EXPECT_GT(weight_sum, 1.0);
    const NodeValue value = root.get_value();
    EXPECT_NEAR(value.values[0], sum[0] / weight_sum, 1e-5);
    EXPECT_NEAR(value.values[1], sum[1] / weight_sum, 1e-5);
    EXPECT_NEAR(value.draw_rate, sum[2] / weight_sum, 1e-5);
    EXPECT_NEAR(value.depth, sum[3] / weight_sum, 1e-5);
  }
}

// ---------------------------------------------------------------------------------------
// Root exploration

TEST(NodeRootExploration, NoiseDecidesTheOrderAndASecondCallKeepsIt) {
  // Uniform prior over 16, index 0: pending slots score U * n / 2 (their q is 0), so
  // slots open in order of noisy prior until the noisiest pending slot beats every new
  // candidate; from then on selection collides there, changing nothing at the root.
  const std::vector<float> prior(16, 1.0f / 16);
  std::set<int32_t> first_choices;
  for (int repeat = 0; repeat < 8; ++repeat) {
    auto root = make_root(constants(1.0f, 0.0f), prior);
    root->enable_root_exploration();
    EXPECT_EQ(root->get_prior(), prior);
    SelectResult result = root->select();
    first_choices.insert(result.action);
    int guard = 0;
    while (result.status == SelectResult::kNewSlot && ++guard < 20) result = root->select();
    ASSERT_EQ(result.status, SelectResult::kCollision);
    const int32_t noisiest = result.action;
    EXPECT_EQ(root->select().action, noisiest);
    root->enable_root_exploration();
    const SelectResult after = root->select();
    EXPECT_EQ(after.status, SelectResult::kCollision);
    EXPECT_EQ(after.action, noisiest);
  }
  // Without noise candidate 0 would open first every time.
  EXPECT_GT(first_choices.size(), 1u);
}

TEST(NodeRootExploration, TurnsOffFirstPlayReductions) {
  // Uniform prior over 3 (noisy 0.25..0.5 each), c = 1, reductions 0.2 / 0.4. After one
  // child worth 0.5 another candidate opens (U * n_b > U * n_a / 2); its first-play value
  // is 0.5 - 0.2 on a plain node and 0.5 with root exploration.
  for (bool exploring : {false, true}) {
    auto root = make_root(constants(1.0f, 1.0f, 0.2f, 0.4f), {1.0f / 3, 1.0f / 3, 1.0f / 3});
    if (exploring) root->enable_root_exploration();
    const SelectResult first = root->select();
    answer(*root, first.slot, 0.5f);
    const SelectResult second = root->select();
    ASSERT_EQ(second.status, SelectResult::kNewSlot);
    EXPECT_FLOAT_EQ(root->get_q_by_action()[second.action], exploring ? 0.5f : 0.3f);
  }
}

// ---------------------------------------------------------------------------------------
// Probability helpers

TEST(Temperature, OneNormalisesAndOthersSharpenOrFlatten) {
  std::vector<float> p = {1.0f, 3.0f, 0.0f, 4.0f};
  decision::apply_temperature(p, 1.0f);
  EXPECT_NEAR(p[0], 0.125f, 1e-6);
  EXPECT_NEAR(p[1], 0.375f, 1e-6);
  EXPECT_EQ(p[2], 0.0f);
  EXPECT_NEAR(p[3], 0.5f, 1e-6);

  p = {0.0f, 0.1f, 0.3f, 0.0f};
  decision::apply_temperature(p, 0.5f);  // squares: 0.01 and 0.09
  EXPECT_EQ(p[0], 0.0f);
  EXPECT_EQ(p[3], 0.0f);
  EXPECT_NEAR(p[1], 0.1f, 1e-6);
  EXPECT_NEAR(p[2], 0.9f, 1e-6);

  p = {0.2f, 0.8f};
  decision::apply_temperature(p, 2.0f);  // square roots: 0.447 and 0.894
  EXPECT_NEAR(p[0], 1.0f / 3.0f, 1e-6);
  EXPECT_NEAR(p[1], 2.0f / 3.0f, 1e-6);
}

TEST(Temperature, NearZeroPicksTheLargestWithoutOverflow) {
  for (float t : {0.0f, -1.0f, 0.001f}) {
    std::vector<float> p = {0.3f, 0.31f, 1e-30f, 0.0f, 0.29f};
    decision::apply_temperature(p, t);
    for (float x : p) EXPECT_TRUE(std::isfinite(x)) << "temperature " << t;
    EXPECT_NEAR(p[1], 1.0f, 1e-6);
    EXPECT_NEAR(p[0], 0.0f, 1e-6);  // (0.3 / 0.31)^1000 = 6e-15
    EXPECT_EQ(p[3], 0.0f);
  }
}

TEST(Temperature, AllZerosStayZero) {
  std::vector<float> p(5, 0.0f);
  decision::apply_temperature(p, 1.0f);
  EXPECT_EQ(p, std::vector<float>(5, 0.0f));
}

TEST(DirichletNoise, SumsToOneAndChangesBetweenCalls) {
  for (size_t n : {1u, 2u, 15u, 225u}) {
    const std::vector<float> noise = decision::dirichlet_noise(10.0f / static_cast<float>(n), n);
    ASSERT_EQ(noise.size(), n);
    for (float x : noise) EXPECT_GE(x, 0.0f);
    EXPECT_NEAR(std::accumulate(noise.begin(), noise.end(), 0.0), 1.0, 1e-5) << n;
  }
  EXPECT_NE(decision::dirichlet_noise(0.5f, 20), decision::dirichlet_noise(0.5f, 20));
}

}  // namespace
