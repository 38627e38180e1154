// Root noise, and proofs on hand-built trees. The tree's own arithmetic is checked by the
// assertions in node.cpp and temperature.cpp and by the tree walker over whole searches
// (search_test.cpp).
#include "search/node.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <set>
#include <vector>

namespace tovan {

namespace {

using search::Node, search::Proof, search::SelectResult, search::make_node_config;

search::Tree tree{.constants = make_node_config(1.0f, 1.0f, 0.0f, 0.0f)};

eval::EvalResult uniform(size_t candidates) {
  return {std::vector<float>(candidates, 1.0f / static_cast<float>(candidates)), {0, 0}, 0};
}

TEST(RootNoise, DecidesTheFirstChoiceOfAnExploringRoot) {
  // A uniform prior: without noise candidate 0 would open first every time.
  std::set<int32_t> first_choices;
  std::mt19937_64 generator{1};
  for (int repeat = 0; repeat < 8; ++repeat) {
    Node root(-1, nullptr, tree, uniform(16), false, 0);
    root.enable_root_exploration(generator);
    first_choices.insert(root.select().action);
  }
  EXPECT_GT(first_choices.size(), 1u);
}

// Opens the root's next candidate with a child (White to move) of the given proof, and
// backs its value up.
void open_child(Node& root, Proof proof) {
  const SelectResult step = root.select();
  ASSERT_EQ(step.status, SelectResult::kNewSlot);
  const bool terminal = proof.result != Proof::kNone;
  root.set_child(step.slot,
                 std::make_unique<Node>(step.slot, &root, tree, uniform(terminal ? 0 : 2), terminal, 1, proof));
  root.backup(step.slot, root.get_child(step.slot)->get_value());
}

bool same(Proof a, Proof b) { return a.result == b.result && a.plies == b.plies; }

TEST(Proofs, AChildLostForItsSideWinsAndEveryCandidateWonForTheOpponentLoses) {
  Node won(-1, nullptr, tree, uniform(3), false, 0);
  open_child(won, {});
  EXPECT_EQ(won.proof().result, Proof::kNone);
  open_child(won, {Proof::kLoss, 0});  // the move made a five
  EXPECT_TRUE(same(won.proof(), {Proof::kWin, 1}));
  EXPECT_EQ(won.get_value().values[0], 1.0f);
  EXPECT_TRUE(won.finished());

  // The excluded candidate neither needs a proof nor is ever selected.
  Node lost(-1, nullptr, tree, uniform(3), false, 0);
  lost.exclude_actions({0, 1, 0});
  open_child(lost, {Proof::kWin, 3});
  EXPECT_EQ(lost.proof().result, Proof::kNone);
  open_child(lost, {Proof::kWin, 5});
  EXPECT_TRUE(same(lost.proof(), {Proof::kLoss, 6}));
  EXPECT_EQ(lost.get_value().values[0], -1.0f);
  for (int visit = 0; visit < 4; ++visit) {
    const SelectResult step = lost.select();
    EXPECT_NE(step.action, 1);
    EXPECT_EQ(step.status, SelectResult::kTerminal);  // proven children are counted, not searched
    lost.backup(step.slot, lost.get_child(step.slot)->get_value());
  }
  EXPECT_EQ(lost.get_visits(), 7.0f);
}

}  // namespace

}  // namespace tovan
