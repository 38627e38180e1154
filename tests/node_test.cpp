// Root noise. The tree's own arithmetic is checked by the assertions in node.cpp and
// temperature.cpp and by the tree walker over whole searches (search_test.cpp).
#include "search/node.h"

#include <gtest/gtest.h>

#include <numeric>
#include <set>
#include <vector>

#include "search/temperature.h"

namespace {

TEST(RootNoise, SumsToOneAndDecidesTheFirstChoiceOfAnExploringRoot) {
  for (size_t n : {1u, 15u, 225u}) {
    const std::vector<float> noise = decision::dirichlet_noise(10.0f / static_cast<float>(n), n);
    EXPECT_NEAR(std::accumulate(noise.begin(), noise.end(), 0.0), 1.0, 1e-5) << n;
  }
  // A uniform prior: without noise candidate 0 would open first every time.
  const NodeConfig constants = make_node_config(1.0f, 1.0f, 0.0f, 0.0f);
  std::set<int32_t> first_choices;
  for (int repeat = 0; repeat < 8; ++repeat) {
    decision::Node root(-1, nullptr, constants, {std::vector<float>(16, 1.0f / 16), {0, 0}, 0}, false, 0);
    root.enable_root_exploration();
    first_choices.insert(root.select().action);
  }
  EXPECT_GT(first_choices.size(), 1u);
}

}  // namespace
