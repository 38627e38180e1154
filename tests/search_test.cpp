// Whole searches on 15 x 15 positions, in random mode and on the tiny test networks, with
// one to four threads, one or two evaluators, batches of 1 and 8 and the two root modes;
// afterwards every node of the tree must be consistent. Then the stop rule, the run flag,
// a finished root, the tree's byte budget and a network that fails in the middle of a
// search.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <future>
#include <memory>
#include <numeric>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "search/mcts.h"
#include "search/temperature.h"

namespace {

using namespace std::chrono_literals;
using decision::MCTS;
using decision::Node;
using decision::NodeValue;
using decision::SearchLimits;

std::string model(const std::string& name) {
  return name == "random" ? name : std::string(TEST_MODEL_DIR) + "/" + name + ".onnx";
}

BoardConfig config(Rule rule = Rule::Freestyle) { return BoardConfig{rule, 15, 15, 2, 4}; }

// Six stones round the centre, Black to move.
Board middle(Rule rule = Rule::Freestyle) {
  Board board(config(rule), 0, CellArray{}, 0);
  for (Move move : {Move{7, 7}, Move{8, 8}, Move{8, 6}, Move{6, 8}, Move{9, 7}, Move{7, 9}}) board.play(move);
  return board;
}

// Black to move with an open four on row 7 (columns 3 to 6): (2, 7) and (7, 7) win.
Board open_four() {
  CellArray cells{};
  for (int x = 3; x < 7; ++x) cells[cell_index(x, 7)] = BLACK;
  for (Move move : {Move{3, 9}, Move{5, 10}, Move{9, 4}, Move{11, 11}}) cells[cell_index(move.x, move.y)] = WHITE;
  return Board(config(), 8, cells, 0);
}

Board black_five() {
  CellArray cells{};
  for (int x = 3; x < 8; ++x) cells[cell_index(x, 7)] = BLACK;
  for (int x = 3; x < 7; ++x) cells[cell_index(x, 9)] = WHITE;
  return Board(config(), 9, cells, 1);
}

NodeConfig search_constants() { return make_node_config(1.6f, 1.0f, 0.1f, 0.3f); }

SearchLimits visits_limit(float visits, float seconds = 60.0f) {
  return SearchLimits{visits, seconds, false, 0.0f, 0.0f, 0.0f, 0.0f};
}

SearchLimits fast_limits(float visits, float threshold, float proportion, float win_rate, float draw_rate) {
  return SearchLimits{visits, 60.0f, true, threshold, proportion, win_rate, draw_rate};
}

struct Evaluators {
  std::vector<std::unique_ptr<eval::Evaluator>> owned;
  std::vector<eval::Evaluator*> pointers() const {
    std::vector<eval::Evaluator*> result;
    for (const auto& evaluator : owned) result.push_back(evaluator.get());
    return result;
  }
};

Evaluators make_evaluators(int count, const std::string& name, Rule rule = Rule::Freestyle, int batch = 16) {
  Evaluators evaluators;
  for (int i = 0; i < count; ++i) {
    evaluators.owned.push_back(
        std::make_unique<eval::Evaluator>(4096, 15, 15, rule, 0, 0, batch, 1, "cpu", 0, 0, "", ""));
    evaluators.owned.back()->load_model(model(name));
  }
  return evaluators;
}

// ---------------------------------------------------------------------------------------
// Tree consistency after a search (nothing in flight): every node's visits are its own
// evaluation plus its children's, every slot has its child, each slot's value is its
// child's value for the node's player, the best child has the most visits (and the
// highest value among equals), and each node's value is the mean of the leaves backed up
// through it: its own evaluation plus each child's value (one ply deeper) times the
// child's visits. The completed-visit counters are not readable; the value identity only
// holds when they equal the visits, so it checks them too. An exploring root averages by
// pruned weights instead; its value for its own player is checked against those.

struct TreeStats {
  int nodes = 0;
  int terminal = 0;
};

void check_node(Node& node, bool exploring, bool balanced, TreeStats& stats) {
  ++stats.nodes;
  const float visits = node.get_visits();
  const NodeValue value = node.get_value();
  const NodeValue own = node.own_value();
  if (node.terminal()) {
    ++stats.terminal;
    EXPECT_TRUE(node.get_prior().empty());
    EXPECT_EQ(node.get_best_child(), -1);
    EXPECT_EQ(value.values[0], own.values[0]);
    EXPECT_EQ(value.values[1], own.values[1]);
    EXPECT_EQ(value.depth, 0.0f);
    return;
  }
  const std::vector<float> by_action = node.get_visits_by_action();
  const std::vector<float> q = node.get_q_by_action();
  ASSERT_EQ(by_action.size(), node.get_prior().size());
  std::vector<std::pair<float, float>> edges;  // (visits, value) per opened candidate
  double child_visits = 0.0;
  for (size_t a = 0; a < by_action.size(); ++a) {
    ASSERT_GE(by_action[a], 0.0f);
    if (by_action[a] == 0.0f) continue;
    edges.emplace_back(by_action[a], q[a]);
    child_visits += by_action[a];
  }
  ASSERT_EQ(visits, 1.0 + child_visits);

  std::vector<std::pair<float, float>> children;
  double sum[4] = {own.values[0], own.values[1], own.draw_rate, 0.0};
  for (int32_t slot = 0; slot < static_cast<int32_t>(edges.size()); ++slot) {
    Node* child = node.get_child(slot);
    ASSERT_NE(child, nullptr) << "slot " << slot << " still waits for its evaluation";
    EXPECT_EQ(child->parent(), &node);
    EXPECT_EQ(child->index_in_parent(), slot);
    EXPECT_EQ(child->side(), 1 - node.side());
    const float n = child->get_visits();
    const NodeValue v = child->get_value();
    children.emplace_back(n, balanced ? -std::fabs(v.values[node.side()]) : v.values[node.side()]);
    sum[0] += n * v.values[0];
    sum[1] += n * v.values[1];
    sum[2] += n * v.draw_rate;
    sum[3] += n * (v.depth + 1.0);
    check_node(*child, false, false, stats);
  }
  std::sort(edges.begin(), edges.end());
  std::sort(children.begin(), children.end());
  EXPECT_EQ(children, edges);

  if (!exploring) {
    EXPECT_NEAR(value.values[0], sum[0] / visits, 1e-3);
    EXPECT_NEAR(value.values[1], sum[1] / visits, 1e-3);
    EXPECT_NEAR(value.draw_rate, sum[2] / visits, 1e-3);
    EXPECT_NEAR(value.depth, sum[3] / visits, 1e-3 * (1.0 + value.depth));
  } else if (!balanced) {
    const std::vector<float> weights = node.get_pruned_weights_by_action(false);
    double weighted = own.values[node.side()];
    double total = 1.0;
    for (size_t a = 0; a < weights.size(); ++a) {
      weighted += static_cast<double>(weights[a]) * q[a];
      total += weights[a];
    }
    EXPECT_NEAR(value.values[node.side()], weighted / total, 1e-4);
  }

  if (edges.empty()) {
    EXPECT_EQ(node.get_best_child(), -1);
    return;
  }
  const int32_t best = node.get_best_action();
  ASSERT_GE(best, 0);
  const float most = *std::max_element(by_action.begin(), by_action.end());
  EXPECT_EQ(by_action[best], most);
  EXPECT_EQ(node.get_best_child_visits(), most);
  EXPECT_EQ(node.get_child(node.get_best_child())->get_visits(), most);
  for (size_t a = 0; a < by_action.size(); ++a) {
    if (by_action[a] != most) continue;
    EXPECT_LE(q[a], q[best]) << "candidate " << a << " ties the best in visits";
  }
}

TreeStats check_tree(MCTS& search, bool exploring, bool balanced) {
  TreeStats stats;
  check_node(*search.root(), exploring, balanced, stats);
  return stats;
}

// ---------------------------------------------------------------------------------------
// Whole searches

struct SearchCase {
  const char* label;
  const char* model;
  Rule rule;
  int threads;
  int evaluators;
  int batch;
  bool balanced;
  bool exploring;
};

class WholeSearch : public ::testing::TestWithParam<SearchCase> {};

TEST_P(WholeSearch, ReachesTheVisitsLimitWithAConsistentTree) {
  const SearchCase& c = GetParam();
  Evaluators evaluators = make_evaluators(c.evaluators, c.model, c.rule);
  MCTS search(nullptr, false, 0, c.threads, c.batch, evaluators.pointers());
  const Board board = middle(c.rule);
  search.set_root(search_constants(), board, 1.0f, c.balanced, c.exploring);
  const std::vector<float>& prior = search.root()->get_prior();
  ASSERT_EQ(prior.size(), board.candidates.size());
  EXPECT_NEAR(std::accumulate(prior.begin(), prior.end(), 0.0), 1.0, 1e-4);

  // One thread stops right at the limit; a pool may finish the round it is in, at most a
  // batch per thread.
  const float overshoot = c.threads == 1 ? 0.0f : static_cast<float>(c.threads * c.batch - 1);
  for (float limit : {400.0f, 2000.0f}) {
    SCOPED_TRACE(testing::Message() << "visits limit " << limit);
    EXPECT_TRUE(search.search(visits_limit(limit)));
    const float visits = search.root()->get_visits();
    EXPECT_GE(visits, limit);
    EXPECT_LE(visits, limit + overshoot);
    const TreeStats stats = check_tree(search, c.exploring, c.balanced);
    EXPECT_GT(stats.nodes, 1);
    EXPECT_LE(stats.nodes, visits);
  }
  // Nothing left to do: no descent, no change.
  const float visits = search.root()->get_visits();
  EXPECT_FALSE(search.search(visits_limit(visits)));
  EXPECT_FALSE(search.search(visits_limit(10.0f)));
  EXPECT_EQ(search.root()->get_visits(), visits);
}

INSTANTIATE_TEST_SUITE_P(
    Configurations, WholeSearch,
    ::testing::Values(
        SearchCase{"random_1thread_batch1", "random", Rule::Freestyle, 1, 1, 1, false, false},
        SearchCase{"random_1thread_batch8_exploring", "random", Rule::Freestyle, 1, 1, 8, false, true},
        SearchCase{"random_2threads_batch8_balanced", "random", Rule::Freestyle, 2, 1, 8, true, false},
        SearchCase{"random_4threads_2evaluators_both", "random", Rule::Freestyle, 4, 2, 8, true, true},
        SearchCase{"tiny40_1thread_batch1", "tiny40", Rule::Freestyle, 1, 1, 1, false, false},
        SearchCase{"tiny40_1thread_batch8_exploring", "tiny40", Rule::Freestyle, 1, 1, 8, false, true},
        SearchCase{"tiny40_2threads_2evaluators_batch8", "tiny40", Rule::Freestyle, 2, 2, 8, false, false},
        SearchCase{"tiny40_4threads_2evaluators_batch1_exploring", "tiny40", Rule::Freestyle, 4, 2, 1, false, true},
        SearchCase{"tiny40_4threads_1evaluator_batch8_balanced", "tiny40", Rule::Freestyle, 4, 1, 8, true, false},
        SearchCase{"tiny40_2threads_1evaluator_batch1_both", "tiny40", Rule::Freestyle, 2, 1, 1, true, true},
        SearchCase{"tiny42_renju_2threads_2evaluators_exploring", "tiny42", Rule::Renju, 2, 2, 8, false, true}),
    [](const ::testing::TestParamInfo<SearchCase>& info) { return std::string(info.param.label); });

TEST(Search, RootPriorIsTheNetworkPolicyUnderTheRootTemperature) {
  Evaluators evaluators = make_evaluators(1, "tiny40");
  Evaluators reference = make_evaluators(1, "tiny40");
  const Board board = middle();
  auto futures = reference.owned[0]->submit({&board}, 0);
  reference.owned[0]->flush();
  const eval::EvalResult evaluation = futures[0].get();

  MCTS search(nullptr, false, 0, 1, 1, evaluators.pointers());
  search.set_root(search_constants(), board, 0.5f, false, false);
  std::vector<float> expected = evaluation.policy;
  decision::apply_temperature(expected, 0.5f);
  const std::vector<float>& prior = search.root()->get_prior();
  ASSERT_EQ(prior.size(), expected.size());
  for (size_t a = 0; a < prior.size(); ++a) EXPECT_NEAR(prior[a], expected[a], 1e-6) << a;
  EXPECT_EQ(search.root()->own_value().values[0], evaluation.values[0]);
  EXPECT_EQ(search.root()->side(), 0);
  EXPECT_EQ(search.root_board().hash, board.hash);

  // A new root drops the old tree (and its prior); balanced mode makes its prior uniform.
  ASSERT_TRUE(search.search(visits_limit(50.0f)));
  search.set_root(search_constants(), board, 1.0f, true, false);
  EXPECT_EQ(search.root()->get_visits(), 1.0f);
  for (float p : search.root()->get_prior()) EXPECT_FLOAT_EQ(p, 1.0f / static_cast<float>(expected.size()));
}

TEST(Search, RefusesAMissingEvaluatorThreadOrBatch) {
  Evaluators evaluators = make_evaluators(1, "random");
  EXPECT_THROW(MCTS(nullptr, false, 0, 1, 1, {}), std::invalid_argument);
  EXPECT_THROW(MCTS(nullptr, false, 0, 0, 1, evaluators.pointers()), std::invalid_argument);
  EXPECT_THROW(MCTS(nullptr, false, 0, 2, 0, evaluators.pointers()), std::invalid_argument);
}

// ---------------------------------------------------------------------------------------
// Stop rule

TEST(StopRule, FastStopConditionsEndTheSearchAtTheThreshold) {
  // Random mode, one thread: the rule runs after every leaf, so a condition that holds
  // from the start stops the search exactly at the fast-stop threshold of 40 visits, and
  // conditions that never hold (or fast_search off) leave it to the visits limit of 100.
  struct Case {
    const char* label;
    SearchLimits limits;
    float visits;
  };
  const Case cases[] = {
      {"best child holds at least no visits", fast_limits(100, 40, 0.0f, 2.0f, 2.0f), 40},
      {"a side wins at least half the time", fast_limits(100, 40, 2.0f, 0.5f, 2.0f), 40},
      {"draw rate at least 0", fast_limits(100, 40, 2.0f, 2.0f, 0.0f), 40},
      {"none can hold", fast_limits(100, 40, 1.01f, 1.01f, 1.01f), 100},
      {"fast search off", SearchLimits{100, 60, false, 40, 0.0f, 0.5f, 0.0f}, 100},
  };
  Evaluators evaluators = make_evaluators(1, "random");
  MCTS search(nullptr, false, 0, 1, 1, evaluators.pointers());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    search.set_root(search_constants(), middle(), 1.0f, false, false);
    EXPECT_TRUE(search.search(c.limits));
    EXPECT_EQ(search.root()->get_visits(), c.visits);
  }
  // Below the threshold the conditions are not looked at.
  EXPECT_TRUE(search.search(fast_limits(300, 400, 0.0f, 0.5f, 0.0f)));
  EXPECT_EQ(search.root()->get_visits(), 300.0f);
}

TEST(StopRule, PoolStopsAtTheThresholdWithinARound) {
  Evaluators evaluators = make_evaluators(2, "random");
  MCTS search(nullptr, false, 0, 2, 4, evaluators.pointers());
  search.set_root(search_constants(), middle(), 1.0f, false, false);
  EXPECT_TRUE(search.search(fast_limits(1000, 40, 0.0f, 2.0f, 2.0f)));
  EXPECT_GE(search.root()->get_visits(), 40.0f);
  EXPECT_LE(search.root()->get_visits(), 40.0f + 7.0f);
}

TEST(StopRule, TreeAtItsByteBudgetStopsTheSearchWithOneLine) {
  // About 100 nodes' worth (deeper nodes have a few more candidates); the budget is looked
  // at between rounds of 2 x 4 leaves.
  Evaluators evaluators = make_evaluators(2, "random");
  MCTS search(nullptr, false, 0, 2, 4, evaluators.pointers());
  std::vector<std::string> lines;
  const int64_t budget = 100 * Node::footprint(middle().candidates.size());
  search.set_tree_budget(budget, [&lines](const std::string& line) { lines.push_back(line); });
  search.set_root(search_constants(), middle(), 1.0f, false, false);
  EXPECT_TRUE(search.search(visits_limit(100000)));
  EXPECT_GE(search.tree_bytes(), budget);
  EXPECT_GE(search.root()->get_visits(), 75.0f);
  EXPECT_LE(search.root()->get_visits(), 120.0f);
  EXPECT_FALSE(search.search(visits_limit(100000)));  // no room to grow
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("DEBUG tree memory limit reached: ", 0), 0u) << lines[0];
  check_tree(search, false, false);
}

TEST(StopRule, WonPositionStopsOnTheWinRateOrTheBestMovesShare) {
  // Black can win at once. Random mode, one thread; the conditions first hold somewhere
  // between 50 and a few thousand visits.
  Evaluators evaluators = make_evaluators(1, "random");
  MCTS search(nullptr, false, 0, 1, 1, evaluators.pointers());

  search.set_root(search_constants(), open_four(), 1.0f, false, false);
  EXPECT_TRUE(search.search(fast_limits(20000, 50, 2.0f, 0.9f, 2.0f)));
  EXPECT_GE(search.root()->get_visits(), 50.0f);
  EXPECT_LT(search.root()->get_visits(), 20000.0f);
  const float win_rate = (search.root()->get_own_side_value() + 1.0f) / 2.0f;
  EXPECT_GE(std::max(win_rate, 1.0f - win_rate), 0.9f);
  check_tree(search, false, false);

  search.set_root(search_constants(), open_four(), 1.0f, false, false);
  EXPECT_TRUE(search.search(fast_limits(20000, 100, 0.6f, 2.0f, 2.0f)));
  EXPECT_GE(search.root()->get_visits(), 100.0f);
  EXPECT_LT(search.root()->get_visits(), 20000.0f);
  EXPECT_GE(search.root()->get_best_child_visits(), 0.6f * search.root()->get_visits());
  check_tree(search, false, false);
}

TEST(StopRule, TimeLimitEndsASearchWithoutAVisitsLimit) {
  Evaluators evaluators = make_evaluators(2, "random");
  MCTS search(nullptr, false, 0, 2, 8, evaluators.pointers());
  search.set_root(search_constants(), middle(), 1.0f, false, false);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(search.search(visits_limit(1e9f, 0.2f)));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, 200ms);
  EXPECT_LT(elapsed, 10s);
  check_tree(search, false, false);
}

TEST(StopRule, RunFlagStopsBeforeAndDuringASearch) {
  std::atomic<bool> run{false};
  Evaluators evaluators = make_evaluators(2, "random");
  MCTS search(&run, false, 0, 2, 8, evaluators.pointers());
  search.set_root(search_constants(), middle(), 1.0f, false, false);
  EXPECT_FALSE(search.search(visits_limit(100)));
  EXPECT_EQ(search.root()->get_visits(), 1.0f);

  run = true;
  EXPECT_TRUE(search.search(visits_limit(100)));
  // Cleared from another thread while a search with no limit in sight runs.
  auto searching = std::async(std::launch::async, [&] { return search.search(visits_limit(1e9f, 600.0f)); });
  std::this_thread::sleep_for(100ms);
  run = false;
  ASSERT_EQ(searching.wait_for(30s), std::future_status::ready) << "the search ignored the run flag";
  EXPECT_TRUE(searching.get());
  check_tree(search, false, false);
}

TEST(StopRule, FinishedGameAtTheRootIsNotSearched) {
  for (int threads : {1, 2}) {
    Evaluators evaluators = make_evaluators(1, "tiny40");
    MCTS search(nullptr, false, 0, threads, 8, evaluators.pointers());
    search.set_root(search_constants(), black_five(), 1.0f, true, true);
    ASSERT_TRUE(search.root()->terminal());
    EXPECT_FALSE(search.search(visits_limit(100)));
    EXPECT_EQ(search.root()->get_visits(), 1.0f);
    EXPECT_EQ(search.root()->get_value().values[0], 1.0f);
  }
}

// ---------------------------------------------------------------------------------------
// A network that fails during a search (batch_value answers one win rate per batch, so
// any batch of two or more positions fails in flush): the search stops, every thread
// leaves, search rethrows, and the object can be used again or destroyed. Each case runs
// on its own thread so that a hang fails here instead of blocking the run.

struct FailureCase {
  int threads;
  int evaluators;
  int batch;
};

TEST(SearchFailure, NetworkErrorStopsEveryThreadAndIsRethrown) {
  for (const FailureCase& c : {FailureCase{1, 1, 8}, FailureCase{2, 1, 4}, FailureCase{2, 2, 8}}) {
    SCOPED_TRACE(testing::Message() << c.threads << " threads, " << c.evaluators << " evaluators, batch " << c.batch);
    auto outcome = std::async(std::launch::async, [c] {
      Evaluators evaluators = make_evaluators(c.evaluators, "batch_value");
      std::string result;
      {
        MCTS search(nullptr, false, 0, c.threads, c.batch, evaluators.pointers());
        search.set_root(search_constants(), middle(), 1.0f, false, false);
        try {
          search.search(visits_limit(1000));
          result = "no exception";
        } catch (const eval::ModelError&) {
          result = "model error";
        } catch (const std::exception& error) {
          result = std::string("other exception: ") + error.what();
        }
        // The evaluators work again: a new root searches normally.
        for (auto& evaluator : evaluators.owned) evaluator->load_model("random");
        search.set_root(search_constants(), middle(), 1.0f, false, false);
        if (!search.search(visits_limit(100)) || search.root()->get_visits() < 100.0f) result += ", no search after";
      }
      return result;
    });
    ASSERT_EQ(outcome.wait_for(60s), std::future_status::ready) << "the failed search did not end";
    EXPECT_EQ(outcome.get(), "model error");
  }
}

}  // namespace
