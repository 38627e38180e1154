// A node of the search tree: the network's evaluation of one position, its candidate moves
// as edges (a candidate index and a 16-bit prior each, the likeliest first), and the
// statistics of the children it has opened.
//
// Children are opened in the order of their edges: the unopened edge of the highest prior
// always scores best among the unopened ones, so the opened edges are a prefix and a
// child's slot is its edge's index. A node other than a root keeps the edges that hold
// most of its prior; the rest (each given their mean prior) are listed only when the
// node's search reaches them. A root keeps every edge at its own prior, and with noise or
// excluded candidates may open them in any order (the edge opened is moved to the front of
// the unopened ones).
//
// Visits selected but not yet backed up ("in flight") count in visits and child visits
// but not in the completed counts; the exploration count of a child grows by a power of
// the node's visits per in-flight visit, which spreads concurrent threads out.
//
// Every node keeps its tree's byte count current: what it adds when created and as it
// grows, what it gives back when freed.
//
// Thread safety: each node has its own lock. select and backup hold it throughout; when
// two are held at once the parent's is always taken first. The fields set at
// construction (and by the root's preparations, before any search thread sees the node)
// are read without it. The collision walk takes each ancestor's lock in turn while
// holding none.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <random>
#include <thread>
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

// What the nodes of one tree share: the search constants, and the heap bytes the nodes
// hold together.
struct Tree {
  NodeConfig constants;
  std::atomic<int64_t> bytes{0};
};

class Node {
 public:
  // A node without a parent is a root. A terminal node (a finished game, or a position
  // proven before its evaluation) has no children. `move` is the one played from the
  // parent's position to reach this one (none at a root).
  Node(int32_t index_in_parent, Node* parent, Tree& tree, eval::EvalResult evaluation, bool terminal, int32_t side,
       Proof proof = {}, Move move = {-1, -1});
  ~Node();
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;

  // A root's preparations, before the search.
  // Uniform prior, exploration constant times balanced_c_factor, child values scored by
  // closeness to an even game.
  void enable_balanced_mode();
  // Dirichlet noise drawn from `generator` on the prior, forced playouts, pruned value
  // average.
  void enable_root_exploration(std::mt19937_64& generator);
  // The flagged candidates (one flag per candidate) are never selected, and children they
  // already have are dropped. At least one must stay unflagged.
  void exclude_actions(const std::vector<uint8_t>& excluded);
  // Takes over the children of `old`, a node of the same position (whose candidates are
  // `moves`), with their subtrees; this node's visits and value then count theirs, as if
  // they had been searched from here.
  void adopt_children(Node& old, const std::vector<Move>& moves);

  // One PUCT selection step (see node.cpp). Terminal and proven children are visited by
  // counting only. A collision takes back the visit the current descent added to every
  // ancestor and leaves this node's counters as they were.
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
  // Frees the children of every node below this one that has at most `visits` visits,
  // keeping those nodes' own counts and values: a search that reaches them opens their
  // children again. No search may run meanwhile.
  void free_subtrees(float visits);
  // The bytes free_subtrees would free, for each threshold 2^k: freed[k].
  void count_subtrees(std::vector<int64_t>& freed) const;

  float get_visits();
  NodeValue get_value();
  float get_own_side_value();
  float get_best_child_visits();
  int32_t get_best_child();
  int32_t get_best_action();
  Node* get_child(int32_t slot);
  // The child of a candidate; null while it has none.
  Node* child_of_action(int32_t action);
  // The child whose position follows from `move`; null while it has none.
  Node* child_of_move(Move move);
  // One entry per candidate.
  std::vector<float> get_prior() const;
  // One entry per candidate: the slot's value at each slot's candidate, 0 elsewhere.
  std::vector<float> get_q_by_action();
  std::vector<float> get_visits_by_action();
  std::vector<float> get_pruned_weights_by_action(bool normalised);
  // One entry per candidate: the proof of its child, none where it has no child.
  std::vector<Proof> get_proofs_by_action();
  // The candidate whose child is proven lost for its side in the fewest moves; -1 if none.
  int32_t get_quickest_win_action();
  bool excluded(int32_t action) const;

  int32_t candidate_count() const { return candidate_count_; }
  int32_t index_in_parent() const { return index_in_parent_; }
  Move move() const { return move_; }
  Node* parent() const { return parent_; }
  const NodeConfig& constants() const { return tree_->constants; }
  Tree& tree() const { return *tree_; }
  // A root's own evaluation (other nodes do not keep theirs).
  const NodeValue& own_value() const;
  bool terminal() const { return terminal_; }
  Proof proof() const { return proof_.load(); }
  // Terminal or proven: nothing below it is searched.
  bool finished() const { return terminal_ || proof().result != Proof::kNone; }
  int32_t side() const { return side_; }
  // The heap bytes this node holds itself (not its children's).
  int64_t own_bytes() const;

 private:
  // A candidate: its index in the position's candidate list and its prior, the upper half
  // of the float rounded.
  struct Edge {
    uint16_t action;
    uint16_t prior;
  };
  struct Child {
    Node* node;  // owned; null until the child's evaluation arrives
    float q;     // the child's value for this node's side
    float visits;
    float explore_count;
    float completed_visits;
  };
  struct RootState;

  // A spin lock: a node is held for a few hundred nanoseconds at most.
  class Lock {
   public:
    void lock() {
      while (held_.exchange(true, std::memory_order_acquire)) {
        while (held_.load(std::memory_order_relaxed)) std::this_thread::yield();
      }
    }
    void unlock() { held_.store(false, std::memory_order_release); }

   private:
    std::atomic<bool> held_{false};
  };

  float prior(int32_t edge) const;
  int32_t pick(float exploration, float& fpu);
  int32_t pick_at_root(float n, float exploration, float& fpu);
  float first_play_urgency(float weighted, float child_visits) const;
  void list_all_edges();
  void swap_edges(int32_t a, int32_t b);
  void add_slot();
  void take_back_descent();
  void update_value(const NodeValue& leaf_value);
  void settle_proof(const Node& child);
  void recount();
  void drop_child(int32_t slot);
  // Deletes every child and the slots, keeping the tree's byte count exact.
  void drop_children();
  std::vector<float> compute_pruned_weights() const;
  template <typename Field>
  std::vector<float> by_action(Field field) const;
  void account(int64_t bytes) const;
  int64_t count_below(float parent_visits, std::vector<int64_t>& freed) const;
  // The exploration constant and the first-play reductions in force for this node's mode.
  float c() const;
  float fpu_min() const;
  float fpu_max() const;
  bool exploring() const;

  Lock lock_;
  const bool terminal_;
  const int8_t side_;
  bool balanced_ = false;
  std::atomic<Proof> proof_;
  const Move move_;
  int16_t index_in_parent_;
  uint16_t candidate_count_;
  uint16_t edge_count_;
  uint16_t opened_ = 0;  // children slots, the first edges
  uint16_t capacity_ = 0;
  int16_t best_child_ = -1;
  uint16_t tail_prior_ = 0;  // of each candidate not among the edges
  float visits_ = 1.0f;      // including in-flight visits and the own evaluation
  float completed_visits_ = 1.0f;
  NodeValue value_;
  Node* parent_;
  Tree* const tree_;
  std::unique_ptr<Edge[]> edges_;
  std::unique_ptr<Child[]> children_;
  std::unique_ptr<RootState> root_;  // at a root only
};

}  // namespace tovan::search
