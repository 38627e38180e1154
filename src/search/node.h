// A node of the search tree: the network's evaluation of one position, the prior over its
// candidate moves, and per-child statistics in parallel arrays indexed by child slot
// (slots are numbered in the order their actions were first selected).
//
// Visits selected but not yet backed up ("in flight") count in visits and child_visits
// but not in the completed counts; the exploration count of a child grows by a power of
// the node's visits per in-flight visit, which spreads concurrent threads out.
//
// Thread safety: each node has its own mutex. select and backup hold it throughout; when
// two are held at once the parent's is always taken first. The fields set at
// construction (and by the mode switches, before any search thread sees the node) are
// read without it. The collision walk takes each ancestor's mutex in turn while holding
// none.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <vector>

#include "board/move.h"
#include "evaluation/eval_result.h"
#include "search/node_config.h"

namespace tovan::search {

// Value for player 0, value for player 1 (each -1..1), draw rate, and the average number
// of plies from the node to its evaluated leaves.
struct NodeValue {
  float values[2] = {0.0f, 0.0f};
  float draw_rate = 0.0f;
  float depth = 0.0f;
};

// A result proven for the side to move at a node: the game is won or lost, its five
// standing `plies` moves later with best play.
struct Proof {
  enum Result : int8_t { kNone = 0, kWin = 1, kLoss = 2 };
  Result result = kNone;
  int16_t plies = 0;
};

// What one selection step did.
struct SelectResult {
  enum Status : int32_t { kDescend = 0, kCollision = 1, kTerminal = 2, kNewSlot = 3 };
  bool needs_evaluation;
  Status status;
  int32_t action;  // candidate index chosen
  int32_t slot;    // its child slot
  float visits;    // the node's visits after the selection (0 after a collision)
};

class Node {
 public:
  // `constants` are the search's, shared by the whole tree, and must outlive it. A terminal
  // node (a finished game, or a position proven before its evaluation) has no children.
  // `move` is the one played from the parent's position to reach this one (none at a root).
  Node(int32_t index_in_parent, Node* parent, const NodeConfig& constants, eval::EvalResult evaluation, bool terminal,
       int32_t side, Proof proof = {}, Move move = {-1, -1});

  // Root modes; each acts once, before the search starts.
  // Uniform prior, exploration constant times balanced_c_factor, child values scored by
  // closeness to an even game.
  void enable_balanced_mode();
  // Dirichlet noise drawn from `generator` on the prior, forced playouts, pruned value average.
  void enable_root_exploration(std::mt19937_64& generator);

  // Root only, before the search: the flagged candidates are never selected. At least one
  // must stay unflagged.
  void exclude_actions(std::vector<uint8_t> excluded);

  // One PUCT selection step (see node.cpp). Terminal and proven children are visited by
  // counting only. A collision takes back the visit the current
  // descent added to every ancestor and leaves this node's counters as they were.
  SelectResult select();
  // Backs the leaf value up through the edge of `slot`. A child proven lost for its side
  // proves this node won; children proven won for their side at every candidate prove it
  // lost. A proven node keeps the exact value of its result.
  void backup(int32_t slot, const NodeValue& leaf_value);
  // Marks the node's position a proven win for its side to move, found by a search of its
  // own; its parent learns of it at the next backup through it, as of any proof.
  void prove_win(int16_t plies);
  // Stores the evaluated child of `slot`, replacing any node already there.
  void set_child(int32_t slot, std::unique_ptr<Node> child);

  float get_visits();
  NodeValue get_value();
  float get_own_side_value();
  float get_best_child_visits();
  int32_t get_best_child();
  int32_t get_best_action();
  Node* get_child(int32_t slot);
  // The child of a candidate; null while it has none.
  Node* child_of_action(int32_t action);
  const std::vector<float>& get_prior() const { return prior_; }
  // One entry per candidate: the slot's value at each slot's candidate, 0 elsewhere.
  std::vector<float> get_q_by_action();
  std::vector<float> get_visits_by_action();
  std::vector<float> get_pruned_weights_by_action(bool normalised);
  // One entry per candidate: the proof of its child, none where it has no child.
  std::vector<Proof> get_proofs_by_action();
  // The candidate whose child is proven lost for its side in the fewest moves; -1 if none.
  int32_t get_quickest_win_action();
  const std::vector<uint8_t>& excluded_actions() const { return excluded_; }

  // Heap bytes a node with this many candidates takes, together with its slot in its
  // parent's per-slot arrays (see node.cpp).
  static int64_t footprint(size_t candidates);

  int32_t index_in_parent() const { return index_in_parent_; }
  Move move() const { return move_; }
  Node* parent() const { return parent_; }
  const NodeConfig& constants() const { return *constants_; }
  const NodeValue& own_value() const { return own_value_; }
  bool terminal() const { return terminal_; }
  Proof proof() const { return proof_.load(); }
  // Terminal or proven: nothing below it is searched.
  bool finished() const { return terminal_ || proof().result != Proof::kNone; }
  int32_t side() const { return side_; }

 private:
  size_t slot_count() const { return slot_action_.size(); }
  void reserve_first_slots();
  void compute_pruned_weights();
  void update_value(const NodeValue& leaf_value);
  void settle_proof(const Node& child);
  std::vector<float> by_action(const std::vector<float>& per_slot) const;
  void take_back_descent();
  int32_t pick_by_scan(float n, float exploration, float fpu);
  int32_t pick_by_shortcut(float n, float exploration, std::optional<float>& fpu);
  float first_play_urgency(float n) const;
  void find_top_unexpanded();
  // The exploration constant and the first-play reductions in force for this node's mode.
  float c() const { return balanced_ ? constants_->balanced_c_factor * constants_->c_puct : constants_->c_puct; }
  float fpu_min() const {
    return root_exploration_ ? constants_->root_fpu_reduction_min : constants_->fpu_reduction_min;
  }
  float fpu_max() const {
    return root_exploration_ ? constants_->root_fpu_reduction_max : constants_->fpu_reduction_max;
  }

  std::mutex mutex_;
  const int32_t index_in_parent_;
  // The selection's shortcut (pick_by_shortcut): the unexpanded candidate of the highest
  // prior, or one of these marks; its prior and the highest prior below it. The three
  // fill holes of the layout, so the node's footprint stays as counted.
  static constexpr int32_t kTopStale = -1, kTopNone = -2, kNoShortcut = -3;
  int32_t top_action_ = kTopStale;
  Node* const parent_;
  const NodeConfig* const constants_;
  std::vector<float> prior_;
  const NodeValue own_value_;
  const bool terminal_;
  const Move move_;  // in the padding after terminal_: the node's footprint stays as counted
  const int32_t side_;
  std::atomic<Proof> proof_;
  std::vector<uint8_t> excluded_;  // per candidate, at a root that excludes some; else empty
  size_t excluded_count_ = 0;
  int32_t best_action_ = -1;
  int32_t best_child_ = -1;
  std::vector<int32_t> slot_of_action_;  // per candidate: its slot, or -1 while unexpanded
  std::vector<int32_t> slot_action_;     // per slot: its candidate
  float visits_ = 1.0f;                  // including in-flight visits and the own evaluation
  float top_prior_ = 0.0f;
  std::vector<float> child_q_;  // per slot: the child's value for this node's side
  std::vector<float> child_visits_;
  std::vector<float> child_explore_count_;
  std::vector<std::unique_ptr<Node>> children_;  // null until the child's evaluation arrives
  NodeValue value_;
  float completed_visits_ = 1.0f;
  float next_prior_ = 0.0f;
  std::vector<float> child_completed_visits_;
  std::vector<float> pruned_weights_;
  std::vector<float> forced_bonus_;  // per candidate, scratch of the forced playouts
  bool root_exploration_ = false;
  std::vector<float> noisy_prior_;
  bool balanced_ = false;
};

}  // namespace tovan::search
