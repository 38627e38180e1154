// Whole searches on 15 x 15 positions, in random mode and on the tiny test networks, with
// one to four threads, one or two evaluators, batches of 1 and 8 and the two root modes;
// afterwards every node of the tree must be consistent. Then the stop rules, and a network
// that fails in the middle of a search.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "search/clock.h"
#include "search/mcts.h"
#include "search/sliced_search.h"
#include "test_positions.h"

namespace tovan {

namespace {

using namespace std::chrono_literals;
using search::MCTS, search::Node, search::NodeConfig, search::NodeValue, search::SearchLimits, search::make_node_config;

Board drawn(const std::vector<std::string>& rows, int side, Rule rule = Rule::Freestyle) {
  return board_from_rows(board_config(rule), rows, side);
}
// Six stones round the centre, Black to move.
Board middle(Rule rule = Rule::Freestyle) {
  return drawn({"", "", "", "", "", "", "........X", ".......X.X", "......O.O", ".......O"}, 0, rule);
}
// Black to move with a four: one move wins.
Board four() { return drawn({"", "", "", "...O.O.O", "", "..OXXXX"}, 0); }

const NodeConfig kConstants = make_node_config(1.6f, 1.0f, 0.1f, 0.3f);

SearchLimits visits_limit(float visits, float seconds = 60.0f) { return {.visits_limit = visits, .seconds = seconds}; }
SearchLimits fast_limits(float visits, float threshold, float proportion, float win_rate, float draw_rate) {
  return {.visits_limit = visits,
          .seconds = 60.0f,
          .fast_search = true,
          .fast_visits_threshold = threshold,
          .best_visits_proportion = proportion,
          .win_rate_threshold = win_rate,
          .draw_rate_threshold = draw_rate};
}

struct Evaluators {
  std::vector<std::unique_ptr<eval::Evaluator>> owned;
  std::vector<eval::Evaluator*> pointers;
};

Evaluators make_evaluators(int count, const std::string& name, Rule rule = Rule::Freestyle) {
  Evaluators evaluators;
  for (int i = 0; i < count; ++i) {
    evaluators.owned.push_back(std::make_unique<eval::Evaluator>(rule, 15, 15, eval::EvaluatorOptions{.batch_size = 16, .cache_capacity = 4096}));
    evaluators.owned.back()->load_model(name == "random" ? name : TEST_MODEL_DIR "/" + name + ".onnx");
    evaluators.pointers.push_back(evaluators.owned.back().get());
  }
  return evaluators;
}

// The heap bytes of a node and everything below it, as the nodes count them.
int64_t bytes_below(Node& node) {
  int64_t bytes = node.own_bytes();
  for (int32_t action = 0; action < node.candidate_count(); ++action) {
    if (Node* child = node.child_of_action(action)) bytes += bytes_below(*child);
  }
  return bytes;
}

// Tree consistency after a search (nothing in flight): every node's visits are its own
// evaluation plus its children's, every slot has its child, each slot's value is its
// child's value for the node's player, the best child has the most visits (and the highest
// value among equals) and the most pruned weight, keeping all its visits, and each node's
// value is the mean of the leaves backed up through it: its own evaluation plus each
// child's value (one ply deeper) times the child's visits. That identity only holds when
// the completed-visit counters equal the visits, so it checks them too, and only where no
// proof below changed a value. Only a root keeps its own evaluation to compare; elsewhere
// the part the value leaves for it must be one. An exploring root averages by pruned
// weights instead.
// A proven node (counted, not searched, like a finished game) holds the exact value of its
// result, owed to a child lost for its side, or to every candidate won for the opponent.
struct Checked {
  int nodes = 1;
  bool proof_below = false;
};

// A win is owed to a child proven lost, or, where the walk knows the node's position, to a
// VCT of its own that a solver of the test's finds again.
Checked check_proven(Node& node, const Board* position) {
  const search::Proof proof = node.proof();
  EXPECT_EQ(node.get_value().values[node.side()], proof.result == search::Proof::kWin ? 1.0f : -1.0f);
  if (node.terminal()) return {1, true};
  const std::vector<search::Proof> proofs = node.get_proofs_by_action();
  const auto owed = [&](search::Proof::Result result) {
    return std::count_if(proofs.begin(), proofs.end(), [&](search::Proof p) { return p.result == result; });
  };
  if (proof.result == search::Proof::kWin) {
    if (owed(search::Proof::kLoss) == 0) {
      EXPECT_TRUE(position != nullptr && search::ThreatSolver(16).find_vct(*position, {1000000, 30, 0}, 3).win());
    }
  } else {
    EXPECT_EQ(static_cast<size_t>(owed(search::Proof::kWin)), proofs.size());
  }
  return {1, true};
}

// `position`, when given, is the node's: the walk then plays each child's move on a copy.
Checked check_node(Node& node, bool exploring, bool balanced, const Board* position = nullptr) {
  if (node.finished()) {
    if (node.proof().result != search::Proof::kNone) return check_proven(node, position);
    const NodeValue value = node.get_value();
    EXPECT_TRUE(node.get_best_child() == -1 && value.values[1] == -value.values[0] && value.depth == 0.0f);
    return {};
  }
  const float visits = node.get_visits();
  const NodeValue value = node.get_value();
  const std::vector<float> by_action = node.get_visits_by_action();
  const std::vector<float> q = node.get_q_by_action();
  std::vector<std::pair<float, float>> edges;  // (visits, value) per opened candidate
  for (size_t a = 0; a < by_action.size(); ++a) {
    if (by_action[a] != 0.0f) edges.emplace_back(by_action[a], q[a]);
  }
  std::vector<std::pair<float, float>> children;
  double sum[4] = {};  // the children's part
  double child_visits = 0.0;
  Checked checked;
  for (int32_t slot = 0; slot < static_cast<int32_t>(edges.size()); ++slot) {
    Node* child = node.get_child(slot);
    if (child == nullptr) {
      ADD_FAILURE() << "slot " << slot << " still waits for its evaluation";
      return checked;
    }
    EXPECT_TRUE(child->parent() == &node && child->index_in_parent() == slot);
    const float n = child->get_visits();
    const NodeValue v = child->get_value();
    children.emplace_back(n, balanced ? -std::fabs(v.values[node.side()]) : v.values[node.side()]);
    child_visits += n;
    for (int i = 0; i < 2; ++i) sum[i] += n * v.values[i];
    sum[2] += n * v.draw_rate;
    sum[3] += n * (v.depth + 1.0);
    std::optional<Board> child_position;
    if (position != nullptr) {
      child_position = *position;
      child_position->play(child->move());
    }
    const Checked below = check_node(*child, false, false, child_position ? &*child_position : nullptr);
    checked.nodes += below.nodes;
    checked.proof_below |= below.proof_below;
  }
  EXPECT_EQ(visits, 1.0 + child_visits);
  std::sort(edges.begin(), edges.end());
  std::sort(children.begin(), children.end());
  EXPECT_EQ(children, edges);

  const std::vector<float> weights = node.get_pruned_weights_by_action(false);
  if (!exploring && !checked.proof_below) {
    // Only a root keeps its own evaluation; elsewhere, what the value leaves for it must be
    // one: a value and its negation, a draw rate, at no depth.
    const double tolerance = 1e-3 * visits;
    const double mean[4] = {value.values[0], value.values[1], value.draw_rate, value.depth};
    double own[4];
    for (int i = 0; i < 4; ++i) own[i] = mean[i] * visits - sum[i];
    if (node.parent() == nullptr) {
      const NodeValue root = node.own_value();
      EXPECT_NEAR(own[0], root.values[0], tolerance);
      EXPECT_NEAR(own[2], root.draw_rate, tolerance);
    }
    EXPECT_NEAR(own[1], -own[0], tolerance);
    EXPECT_LE(std::fabs(own[0]), 1.0 + tolerance);
    EXPECT_TRUE(own[2] >= -tolerance && own[2] <= 1.0 + tolerance);
    EXPECT_NEAR(own[3], 0.0, tolerance * (1.0 + value.depth));
  } else if (exploring && !balanced) {
    double weighted = node.own_value().values[node.side()];
    double total = 1.0;
    for (size_t a = 0; a < weights.size(); ++a) {
      weighted += static_cast<double>(weights[a]) * q[a];
      total += weights[a];
    }
    EXPECT_NEAR(value.values[node.side()], weighted / total, 1e-4);
  }
  if (edges.empty()) return checked;
  const int32_t best = node.get_best_action();
  const float most = *std::max_element(by_action.begin(), by_action.end());
  EXPECT_EQ(by_action[best], most);
  EXPECT_EQ(weights[best], most);
  for (size_t a = 0; a < by_action.size(); ++a) {
    if (by_action[a] == most) {
      EXPECT_LE(q[a], q[best]) << "candidate " << a << " ties the best in visits";
    }
    EXPECT_LE(weights[a], weights[best]) << "candidate " << a;
  }
  return checked;
}

struct SearchCase {
  const char* label;
  const char* model;
  Rule rule;
  int threads, evaluators, batch;
  bool balanced, exploring;
  bool threats = false;  // new positions are searched for fours that win, and nodes of 4 visits for threats
};

class WholeSearch : public ::testing::TestWithParam<SearchCase> {};

TEST_P(WholeSearch, ReachesTheVisitsLimitWithAConsistentTree) {
  const SearchCase& c = GetParam();
  Evaluators evaluators = make_evaluators(c.evaluators, c.model, c.rule);
  MCTS search({.threads = c.threads, .batch_size = c.batch}, evaluators.pointers);
  if (c.threats) search.set_tree_threats({{200, 30, 0}, 4, 2, 500});
  const Board root = middle(c.rule);
  search.set_root(kConstants, root, 1.0f, c.balanced, c.exploring);
  // One thread stops right at the limit; a pool may finish its round, a batch per thread.
  const float overshoot = c.threads == 1 ? 0.0f : static_cast<float>(c.threads * c.batch - 1);
  for (float limit : {400.0f, 2000.0f}) {
    SCOPED_TRACE(testing::Message() << "visits limit " << limit);
    EXPECT_TRUE(search.search(visits_limit(limit)));
    const float visits = search.root()->get_visits();
    EXPECT_GE(visits, limit);
    EXPECT_LE(visits, limit + overshoot);
    EXPECT_GT(check_node(*search.root(), c.exploring, c.balanced, &root).nodes, 1);
    EXPECT_EQ(bytes_below(*search.root()), search.tree_bytes());
  }
  // Nothing left to do: no descent, no change.
  const float visits = search.root()->get_visits();
  EXPECT_FALSE(search.search(visits_limit(visits)));
  EXPECT_EQ(search.root()->get_visits(), visits);
}

const SearchCase kSearchCases[] = {
    {"random_1thread_batch1", "random", Rule::Freestyle, 1, 1, 1, false, false},
    {"random_1thread_threats", "random", Rule::Freestyle, 1, 1, 1, false, false, true},
    {"random_2threads_threats_exploring", "random", Rule::Standard, 2, 1, 8, false, true, true},
    {"random_1thread_batch8_exploring", "random", Rule::Freestyle, 1, 1, 8, false, true},
    {"random_2threads_batch8_balanced", "random", Rule::Freestyle, 2, 1, 8, true, false},
    {"random_4threads_2evaluators_both", "random", Rule::Freestyle, 4, 2, 8, true, true},
    {"tiny40_1thread_batch1", "tiny40", Rule::Freestyle, 1, 1, 1, false, false},
    {"tiny40_2threads_2evaluators", "tiny40", Rule::Freestyle, 2, 2, 8, false, false},
    {"tiny40_4threads_batch1_exploring", "tiny40", Rule::Freestyle, 4, 2, 1, false, true},
    {"tiny40_4threads_balanced", "tiny40", Rule::Freestyle, 4, 1, 8, true, false},
    {"tiny40_2threads_batch1_both", "tiny40", Rule::Freestyle, 2, 1, 1, true, true},
    {"tiny42_renju_2threads_exploring", "tiny42", Rule::Renju, 2, 2, 8, false, true},
    {"tiny42_renju_2threads_threats", "tiny42", Rule::Renju, 2, 2, 8, false, false, true},
};

INSTANTIATE_TEST_SUITE_P(Configurations, WholeSearch, ::testing::ValuesIn(kSearchCases),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(StopRule, SearchStopsAtTheFirstLimitReachedAndASecondOneAddsNothing) {
  // Random mode. One thread looks at the rule after every leaf, so a fast-stop condition
  // that holds from the start stops the search exactly at its threshold of 40 visits;
  // conditions that never hold (or fast_search off) leave it to the visits limit. A pool
  // may finish its round. A root proven won (one child is a finished game) stops the
  // search before long; a finished game is not searched.
  const Board five = drawn({"", "", "", "...XXXXX", "", "...OOOO"}, 1);
  struct Case {
    int threads;
    Board board;
    SearchLimits limits;
    float low, high;
  };
  const Case cases[] = {
      {1, middle(), fast_limits(100, 40, 0.0f, 2.0f, 2.0f), 40, 40},  // the best child holds no visits or more
      {1, middle(), fast_limits(100, 40, 2.0f, 0.5f, 2.0f), 40, 40},  // a side wins half the time or more
      {1, middle(), fast_limits(100, 40, 2.0f, 2.0f, 0.0f), 40, 40},  // the draw rate is 0 or more
      {1, middle(), fast_limits(100, 40, 1.01f, 1.01f, 1.01f), 100, 100},
      {1, middle(), SearchLimits{.visits_limit = 100, .seconds = 60, .fast_visits_threshold = 40, .win_rate_threshold = 0.5f}, 100, 100},
      {1, middle(), fast_limits(300, 400, 0.0f, 0.5f, 0.0f), 300, 300},  // below the threshold
      {2, middle(), fast_limits(1000, 40, 0.0f, 2.0f, 2.0f), 40, 47},
      {1, four(), visits_limit(20000), 2, 19999},
      {2, four(), visits_limit(20000), 2, 19999},
      {1, five, visits_limit(100), 1, 1},
      {2, five, visits_limit(100), 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    Evaluators evaluators = make_evaluators(c.threads, "random");
    MCTS search({.threads = c.threads, .batch_size = 4}, evaluators.pointers);
    search.set_root(kConstants, c.board, 1.0f, false, false);
    EXPECT_EQ(search.search(c.limits), c.high > 1);
    const float visits = search.root()->get_visits();
    EXPECT_GE(visits, c.low);
    EXPECT_LE(visits, c.high);
    check_node(*search.root(), false, false);
    EXPECT_FALSE(search.search(c.limits));
    EXPECT_EQ(search.root()->get_visits(), visits);
  }
}

TEST(StopRule, TimeLimitEndsASearchWithNoVisitsLimitInSight) {
  Evaluators evaluators = make_evaluators(2, "random");
  MCTS search({.threads = 2, .batch_size = 8}, evaluators.pointers);
  search.set_root(kConstants, middle(), 1.0f, false, false);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(search.search(visits_limit(1e9f, 0.2f)));
  // It runs until a round would end past the time (rounds here are far shorter than 50 ms).
  EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms);
  check_node(*search.root(), false, false);
}

// A round held up for half a second by a paused evaluator: a search of 0.3 s then starts
// no round, since by the last one it would end past its time, while slices towards a
// deadline 1.5 s away grow to hold such rounds and gain visits.
TEST(StopRule, NoRoundStartsThatWouldEndPastTheDeadline) {
  Evaluators evaluators = make_evaluators(1, "random");
  MCTS search({.threads = 1, .batch_size = 8}, evaluators.pointers);
  search.set_root(kConstants, middle(), 1.0f, false, false);
  evaluators.owned[0]->load_model("pause");
  auto resume = std::async(std::launch::async, [&] {
    std::this_thread::sleep_for(500ms);
    evaluators.owned[0]->load_model("random");
  });
  EXPECT_TRUE(search.search(visits_limit(1e9f, 0.2f)));
  resume.get();
  const float visits = search.root()->get_visits();
  EXPECT_FALSE(search.search(visits_limit(1e9f, 0.3f)));
  const int64_t deadline = search::monotonic_ns() + 1'500'000'000;
  search::search_in_slices(search, visits_limit(1e9f), deadline, deadline, [] {});
  EXPECT_GT(search.root()->get_visits(), visits);
  check_node(*search.root(), false, false);
}

// Slow evaluations are held against later searches only as long as they are recent: a
// root evaluation held up 200 ms leaves a 1 s search its rounds (the built-in evaluators
// end a round leaf by leaf), and a round held up 500 ms no longer keeps a 0.3 s search from
// its rounds five positions later.
TEST(StopRule, ASlowEvaluationDoesNotStopLaterSearches) {
  Evaluators evaluators = make_evaluators(1, "random");
  MCTS search({.threads = 1, .batch_size = 16}, evaluators.pointers);
  auto hold_up = [&](std::chrono::milliseconds time) {
    evaluators.owned[0]->load_model("pause");
    return std::async(std::launch::async, [&evaluators, time] {
      std::this_thread::sleep_for(time);
      evaluators.owned[0]->load_model("random");
    });
  };
  auto resume = hold_up(200ms);
  search.set_root(kConstants, middle(), 1.0f, false, false);
  resume.get();
  EXPECT_TRUE(search.search(visits_limit(1e9f, 1.0f)));
  resume = hold_up(500ms);
  search.search(visits_limit(1e9f, 0.2f));
  resume.get();
  for (int i = 0; i < 5; ++i) search.set_root(kConstants, middle(), 1.0f, false, false);
  EXPECT_TRUE(search.search(visits_limit(1e9f, 0.3f)));
  check_node(*search.root(), false, false);
}

// A budget of what about 1,500 visits hold: the search frees subtrees (once, by the
// numbers here), says so in one line and goes on to its visits limit; the tree's count of
// its bytes stays exact, and the budget is kept but for the leaves of the last descents.
TEST(TreeBudget, FreesTheLeastVisitedSubtreesAndGoesOn) {
  Evaluators evaluators = make_evaluators(2, "random");
  MCTS search({.threads = 2, .batch_size = 4}, evaluators.pointers);
  search.set_root(kConstants, middle(), 1.0f, false, false);
  search.search(visits_limit(1500));
  const int64_t budget = search.tree_bytes();
  std::vector<std::string> lines;
  search.set_tree_budget(budget, [&lines](const std::string& line) { lines.push_back(line); });
  search.set_root(kConstants, middle(), 1.0f, false, false);
  EXPECT_TRUE(search.search(visits_limit(6000)));
  EXPECT_GE(search.root()->get_visits(), 6000.0f);
  EXPECT_EQ(bytes_below(*search.root()), search.tree_bytes());
  EXPECT_LE(search.tree_bytes(), budget + 2 * 4 * 4096);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].starts_with("DEBUG tree memory limit reached: ")) << lines[0];
  EXPECT_TRUE(lines[0].ends_with("and the search goes on")) << lines[0];
}

// A process that nears its memory limit, here when the tree passes about 10,000 visits'
// bytes (resident memory read as twice the tree's): the search lowers the tree's budget,
// frees subtrees, says so, and goes on to its visits limit, the tree never far past
// where resident memory came near the limit (without the watch it would triple).
TEST(TreeBudget, ResidentMemoryNearTheLimitLowersTheBudget) {
  Evaluators evaluators = make_evaluators(2, "random");
  MCTS search({.threads = 2, .batch_size = 4}, evaluators.pointers);
  search.set_root(kConstants, middle(), 1.0f, false, false);
  search.search(visits_limit(10000));
  const int64_t near = search.tree_bytes();
  ASSERT_GT(near, MCTS::kMinTreeBytes);
  std::vector<std::string> lines;
  search.set_tree_budget(MCTS::kNoTreeLimit, [&lines](const std::string& line) { lines.push_back(line); });
  search.set_memory_limit(2 * near / 63 * 64, [&search] { return 2 * search.tree_bytes(); });
  search.set_root(kConstants, middle(), 1.0f, false, false);
  EXPECT_TRUE(search.search(visits_limit(30000)));
  EXPECT_GE(search.root()->get_visits(), 30000.0f);
  EXPECT_EQ(bytes_below(*search.root()), search.tree_bytes());
  // Resident memory is looked at every 2 ms, so the tree may have grown a little past it.
  EXPECT_LE(search.tree_bytes(), near + near / 8);
  EXPECT_TRUE(std::ranges::any_of(lines, [](const std::string& line) {
    return line.starts_with("DEBUG resident memory ") && line.find("the tree's budget is lowered to") != std::string::npos;
  }));
}

// Our move and the reply, both in the tree: the new root takes over the subtree of the
// position reached with its visits, consistent as a tree searched from there, and the
// rest is freed. A candidate excluded then loses its subtree. A position that does not
// follow (a stone taken away) starts afresh.
TEST(KeptTree, TheReachedPositionKeepsItsSubtree) {
  Evaluators evaluators = make_evaluators(1, "tiny40");
  MCTS search({.threads = 1, .batch_size = 8, .keep_tree = true}, evaluators.pointers);
  const Board start = middle();
  search.set_root(kConstants, start, 1.0f, false, false);
  search.search(visits_limit(3000));
  Node& ours = *search.root()->child_of_action(search.root()->get_best_action());
  Node& reply = *ours.child_of_action(ours.get_best_action());
  const float reached_visits = reply.get_visits();
  ASSERT_GT(reached_visits, 20.0f);
  const Move reply_move = reply.move();
  Board reached = start;
  reached.play(ours.move());
  reached.play(reply_move);

  search.set_root(kConstants, reached, 1.0f, false, false);
  EXPECT_EQ(search.kept_visits(), reached_visits - 1.0f);
  EXPECT_EQ(search.root()->get_visits(), reached_visits);
  check_node(*search.root(), false, false, &reached);
  EXPECT_EQ(bytes_below(*search.root()), search.tree_bytes());
  EXPECT_TRUE(search.search(visits_limit(reached_visits + 500.0f)));
  check_node(*search.root(), false, false, &reached);

  const int32_t best = search.root()->get_best_action();
  std::vector<uint8_t> excluded(reached.candidates().size(), 0);
  excluded[best] = 1;
  const float visits = search.root()->get_visits();
  search.root()->exclude_actions(excluded);
  EXPECT_EQ(search.root()->child_of_action(best), nullptr);
  EXPECT_LT(search.root()->get_visits(), visits);
  check_node(*search.root(), false, false, &reached);
  EXPECT_EQ(bytes_below(*search.root()), search.tree_bytes());

  Board taken_back = reached;
  taken_back.undo(reply_move, true);
  search.set_root(kConstants, taken_back, 1.0f, false, false);
  EXPECT_EQ(search.kept_visits(), 0.0f);
  EXPECT_EQ(search.tree_bytes(), search.root()->own_bytes());
}

// batch_value answers one win rate per batch, so any batch of two or more positions fails
// in flush: the search stops, every thread leaves, search rethrows, and the object can be
// used again.
TEST(SearchFailure, NetworkErrorStopsEveryThreadAndIsRethrown) {
  for (const auto& [threads, count, batch] : {std::tuple{1, 1, 8}, std::tuple{2, 1, 4}, std::tuple{2, 2, 8}}) {
    SCOPED_TRACE(testing::Message() << threads << " threads, " << count << " evaluators, batch " << batch);
    Evaluators evaluators = make_evaluators(count, "batch_value");
    MCTS search({.threads = threads, .batch_size = batch}, evaluators.pointers);
    search.set_root(kConstants, middle(), 1.0f, false, false);
    EXPECT_THROW(search.search(visits_limit(1000)), eval::ModelError);
    for (auto& evaluator : evaluators.owned) evaluator->load_model("random");
    search.set_root(kConstants, middle(), 1.0f, false, false);
    EXPECT_TRUE(search.search(visits_limit(100)));
    EXPECT_GE(search.root()->get_visits(), 100.0f);
  }
}

}  // namespace

}  // namespace tovan
