#include "search/node.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>
#include <limits>
#include <numeric>

#include "evaluation/heap_block.h"
#include "search/temperature.h"

namespace tovan::search {
namespace {

// Forced playouts put a child that has fallen behind ahead of every other.
constexpr float kForcedPlayoutBonus = 1e10f;
// Dirichlet concentration of the root noise, spread over the candidates.
constexpr float kNoiseConcentration = 10.0f;
// A node below the root keeps as edges the candidates of a prior of at least this share of
// the mean prior (together they hold at least 1 - this share of the prior), and at least
// kMinEdges of them.
constexpr float kTailShare = 0.05f;
constexpr size_t kMinEdges = 4;
// free_subtrees thresholds: 2^0 .. 2^31 visits.
constexpr size_t kThresholds = 32;

// The upper half of a float, rounded to nearest even: 8 bits of precision, and the order
// of the values kept.
uint16_t to_half(float x) {
  const uint32_t bits = std::bit_cast<uint32_t>(x);
  return static_cast<uint16_t>((bits + 0x7fffu + ((bits >> 16) & 1u)) >> 16);
}

float from_half(uint16_t half) { return std::bit_cast<float>(static_cast<uint32_t>(half) << 16); }

// The value of a proven result, for a node whose side to move is `side`.
NodeValue proven_value(Proof proof, int32_t side) {
  NodeValue value;
  const float sign = proof.result == Proof::kWin ? 1.0f : -1.0f;
  value.values[side] = sign;
  value.values[side ^ 1] = -sign;
  value.depth = proof.plies;
  return value;
}

NodeValue value_of(const eval::EvalResult& evaluation) {
  NodeValue value;
  value.values[0] = evaluation.values[0];
  value.values[1] = evaluation.values[1];
  value.draw_rate = evaluation.draw_rate;
  return value;
}

// A prior as a sort key: a broken one (not a number) sorts last.
float sort_key(float prior) { return std::isnan(prior) ? -1.0f : prior; }

// Sorts `order` (candidate indices) by their priors, the likeliest first and equal ones by
// index, as one integer each: the key's bits flipped so that integer order is descending
// prior order, above the index.
void sort_by_prior(std::vector<uint16_t>& order, size_t count, const std::vector<float>& policy) {
  thread_local std::vector<uint64_t> keyed;
  keyed.resize(count);
  for (size_t i = 0; i < count; ++i) {
    const float key = sort_key(policy[order[i]]) + 0.0f;  // -0 as +0
    const uint32_t bits = std::bit_cast<uint32_t>(key);
    const uint32_t ascending = (bits & 0x80000000u) != 0 ? ~bits : bits | 0x80000000u;
    keyed[i] = (uint64_t{~ascending} << 32) | order[i];
  }
  std::sort(keyed.begin(), keyed.end());
  for (size_t i = 0; i < count; ++i) order[i] = static_cast<uint16_t>(keyed[i]);
}

}  // namespace

// What a root keeps beside its edges: its own evaluation's value (from which it recounts
// its value), the exact prior of each edge (noisy when it explores), and the excluded ones.
struct Node::RootState {
  NodeValue own_value;
  std::vector<float> prior;        // per edge
  std::vector<uint8_t> excluded;   // per edge, when some are; else empty
  int32_t excluded_count = 0;
  bool exploring = false;
  std::vector<float> plain_prior;  // per edge, without the noise, when exploring

  int64_t bytes() const {
    const auto block = [](size_t payload) { return payload == 0 ? 0 : eval::heap_block(payload); };
    return eval::heap_block(sizeof(RootState)) + block(prior.capacity() * sizeof(float)) +
           block(excluded.capacity()) + block(plain_prior.capacity() * sizeof(float));
  }
};

// Most of a tree's bytes are its nodes: keep one within a 96-byte heap block.
static_assert(eval::heap_block(sizeof(Node)) <= 96);

Node::Node(int32_t index_in_parent, Node* parent, Tree& tree, eval::EvalResult evaluation, bool terminal,
           int32_t side, Proof proof, Move move)
    : terminal_(terminal),
      side_(static_cast<int8_t>(side)),
      proof_(proof),
      move_(move),
      index_in_parent_(static_cast<int16_t>(index_in_parent)),
      candidate_count_(static_cast<uint16_t>(evaluation.policy.size())),
      edge_count_(0),
      value_(proof.result == Proof::kNone ? value_of(evaluation) : proven_value(proof, side)),
      parent_(parent),
      tree_(&tree) {
  const std::vector<float>& policy = evaluation.policy;
  const size_t n = policy.size();
  thread_local std::vector<uint16_t> order;
  order.resize(n);
  std::iota(order.begin(), order.end(), uint16_t{0});
  const auto likelier = [&policy](uint16_t a, uint16_t b) {
    const float pa = sort_key(policy[a]);
    const float pb = sort_key(policy[b]);
    return pa > pb || (pa == pb && a < b);
  };
  size_t kept = n;
  if (parent != nullptr && n > kMinEdges) {
    // The likely candidates first; those left out have priors that sum to less than
    // kTailShare, and each takes their mean.
    const float threshold = kTailShare / static_cast<float>(n);
    const auto tail = std::partition(order.begin(), order.end(), [&](uint16_t a) { return policy[a] >= threshold; });
    kept = std::max(static_cast<size_t>(tail - order.begin()), kMinEdges);
    if (tail - order.begin() < static_cast<std::ptrdiff_t>(kMinEdges)) {
      std::nth_element(tail, order.begin() + kMinEdges - 1, order.end(), likelier);
    }
    if (kept < n) {
      double tail_sum = 0.0;
      for (size_t i = kept; i < n; ++i) tail_sum += std::max(policy[order[i]], 0.0f);
      tail_prior_ = to_half(static_cast<float>(tail_sum / static_cast<double>(n - kept)));
    }
  }
  sort_by_prior(order, kept, policy);
  edge_count_ = static_cast<uint16_t>(kept);
  if (kept > 0) edges_ = std::make_unique_for_overwrite<Edge[]>(kept);
  for (size_t e = 0; e < kept; ++e) edges_[e] = {order[e], to_half(policy[order[e]])};
  if (parent == nullptr) {
    root_ = std::make_unique<RootState>();
    root_->own_value = value_of(evaluation);
    root_->prior.resize(kept);
    for (size_t e = 0; e < kept; ++e) root_->prior[e] = policy[order[e]];
  }
  assert(parent != nullptr || edge_count_ == candidate_count_);
  account(own_bytes());
}

Node::~Node() {
  drop_children();
  account(-own_bytes());
}

void Node::drop_children() {
  const int64_t before = own_bytes();
  for (int32_t slot = 0; slot < opened_; ++slot) delete children_[slot].node;
  children_.reset();
  capacity_ = 0;
  opened_ = 0;
  best_child_ = -1;
  account(own_bytes() - before);
}

int64_t Node::own_bytes() const {
  int64_t bytes = eval::heap_block(sizeof(Node));
  if (edge_count_ > 0) bytes += eval::heap_block(edge_count_ * sizeof(Edge));
  if (capacity_ > 0) bytes += eval::heap_block(capacity_ * sizeof(Child));
  if (root_) bytes += root_->bytes();
  return bytes;
}

const NodeValue& Node::own_value() const {
  assert(root_ && "only a root keeps its own evaluation");
  return root_->own_value;
}

void Node::account(int64_t bytes) const { tree_->bytes.fetch_add(bytes, std::memory_order_relaxed); }

float Node::c() const { return balanced_ ? constants().balanced_c_factor * constants().c_puct : constants().c_puct; }
float Node::fpu_min() const { return exploring() ? constants().root_fpu_reduction_min : constants().fpu_reduction_min; }
float Node::fpu_max() const { return exploring() ? constants().root_fpu_reduction_max : constants().fpu_reduction_max; }
bool Node::exploring() const { return root_ && root_->exploring; }

float Node::prior(int32_t edge) const {
  if (root_) return root_->exploring ? root_->plain_prior[edge] : root_->prior[edge];
  return from_half(edge < edge_count_ ? edges_[edge].prior : tail_prior_);
}

void Node::enable_balanced_mode() {
  assert(root_ && opened_ == 0 && "a root is prepared before it has children");
  if (balanced_) return;
  balanced_ = true;
  const float uniform = static_cast<float>(1.0 / static_cast<double>(candidate_count_));
  for (int32_t e = 0; e < edge_count_; ++e) {
    edges_[e].prior = to_half(uniform);
    root_->prior[e] = uniform;
  }
}

void Node::enable_root_exploration(std::mt19937_64& generator) {
  assert(root_ && "only a root explores");
  if (root_->exploring) return;
  const int64_t before = own_bytes();
  root_->exploring = true;
  root_->plain_prior = root_->prior;
  const size_t n = root_->prior.size();
  const std::vector<float> noise = dirichlet_noise(kNoiseConcentration / static_cast<float>(n), n, generator);
  const float weight = constants().noise_weight;
  for (size_t e = 0; e < n; ++e) root_->prior[e] = weight * noise[e] + (1.0f - weight) * root_->plain_prior[e];
  account(own_bytes() - before);
}

void Node::exclude_actions(const std::vector<uint8_t>& excluded) {
  assert(root_ && excluded.size() == candidate_count_ && std::count(excluded.begin(), excluded.end(), 0) > 0);
  const int64_t before = own_bytes();
  bool dropped = false;
  for (int32_t slot = 0; slot < opened_;) {
    if (excluded[edges_[slot].action]) {
      drop_child(slot);
      dropped = true;
    } else {
      ++slot;
    }
  }
  root_->excluded.resize(edge_count_);
  for (int32_t e = 0; e < edge_count_; ++e) root_->excluded[e] = excluded[edges_[e].action];
  root_->excluded_count = static_cast<int32_t>(std::count(excluded.begin(), excluded.end(), 1));
  if (dropped) recount();
  account(own_bytes() - before);
}

void Node::swap_edges(int32_t a, int32_t b) {
  std::swap(edges_[a], edges_[b]);
  if (!root_) return;
  std::swap(root_->prior[a], root_->prior[b]);
  if (!root_->plain_prior.empty()) std::swap(root_->plain_prior[a], root_->plain_prior[b]);
  if (!root_->excluded.empty()) std::swap(root_->excluded[a], root_->excluded[b]);
}

// Frees the child of `slot` with its subtree; the last opened edge takes its place.
void Node::drop_child(int32_t slot) {
  delete children_[slot].node;
  const int32_t last = opened_ - 1;
  if (slot != last) {
    swap_edges(slot, last);
    children_[slot] = children_[last];
    children_[slot].node->index_in_parent_ = static_cast<int16_t>(slot);
  }
  --opened_;
}

void Node::adopt_children(Node& old, const std::vector<Move>& moves) {
  assert(root_ && opened_ == 0 && moves.size() == candidate_count_);
  for (int32_t i = 0; i < old.opened_; ++i) {
    Child& child = old.children_[i];
    if (child.node == nullptr) continue;
    const auto action = std::find(moves.begin(), moves.end(), child.node->move()) - moves.begin();
    int32_t edge = opened_;
    while (edge < edge_count_ && edges_[edge].action != action) ++edge;
    if (edge == edge_count_) continue;  // not a candidate here: left to the old tree
    swap_edges(edge, opened_);
    add_slot();
    children_[opened_] = child;
    child.node->parent_ = this;
    child.node->index_in_parent_ = static_cast<int16_t>(opened_);
    child.node = nullptr;
    ++opened_;
  }
  // The unopened edges back in their order, the likeliest first.
  std::vector<int32_t> order(static_cast<size_t>(edge_count_ - opened_));
  std::iota(order.begin(), order.end(), static_cast<int32_t>(opened_));
  std::sort(order.begin(), order.end(), [this](int32_t a, int32_t b) {
    const float pa = sort_key(root_->prior[a]);
    const float pb = sort_key(root_->prior[b]);
    return pa > pb || (pa == pb && edges_[a].action < edges_[b].action);
  });
  std::vector<Edge> edges(order.size());
  std::vector<float> priors(order.size());
  for (size_t i = 0; i < order.size(); ++i) {
    edges[i] = edges_[order[i]];
    priors[i] = root_->prior[order[i]];
  }
  std::copy(edges.begin(), edges.end(), edges_.get() + opened_);
  std::copy(priors.begin(), priors.end(), root_->prior.begin() + opened_);
  recount();
}

// A root's counts and value from its children, none of them in flight: its own evaluation
// and each child's value weighted by the child's visits, as a search from here would have
// backed them up.
void Node::recount() {
  visits_ = 1.0f;
  completed_visits_ = 1.0f;
  best_child_ = -1;
  const NodeValue& own = root_->own_value;
  double total[4] = {own.values[0], own.values[1], own.draw_rate, 0.0};
  for (int32_t slot = 0; slot < opened_; ++slot) {
    Child& child = children_[slot];
    const NodeValue value = child.node->value_;
    const double n = child.completed_visits;
    assert(child.visits == child.completed_visits && "no visit is in flight");
    visits_ += child.visits;
    completed_visits_ += child.completed_visits;
    total[0] += n * value.values[0];
    total[1] += n * value.values[1];
    total[2] += n * value.draw_rate;
    total[3] += n * (value.depth + 1.0);
    child.q = balanced_ ? -std::fabs(value.values[side_]) : value.values[side_];
    child.explore_count = child.visits;
    const Child* best = best_child_ == -1 ? nullptr : &children_[best_child_];
    if (!best || child.completed_visits > best->completed_visits ||
        (child.completed_visits == best->completed_visits && child.q > best->q)) {
      best_child_ = static_cast<int16_t>(slot);
    }
  }
  value_.values[0] = static_cast<float>(total[0] / completed_visits_);
  value_.values[1] = static_cast<float>(total[1] / completed_visits_);
  value_.draw_rate = static_cast<float>(total[2] / completed_visits_);
  value_.depth = static_cast<float>(total[3] / completed_visits_);
  if (terminal_) return;
  proof_ = Proof{};
  for (int32_t slot = 0; slot < opened_ && proof().result == Proof::kNone; ++slot) settle_proof(*children_[slot].node);
}

// The edge of the highest score, the first of equals: the prior term (shrunk by the
// exploration count at a child) plus the child's value, or the first-play urgency where
// there is no child. Of the unopened edges only the first can score best; `fpu` gets the
// urgency when it is scored.
int32_t Node::pick(float exploration, float& fpu) {
  int32_t best = -1;
  float best_score = -std::numeric_limits<float>::infinity();
  float weighted = 0.0f;
  float child_visits = 0.0f;
  for (int32_t slot = 0; slot < opened_; ++slot) {
    const Child& child = children_[slot];
    const float score = exploration * prior(slot) / (child.explore_count + 1.0f) + child.q;
    if (score > best_score) {
      best = slot;
      best_score = score;
    }
    weighted += child.q * child.visits;
    child_visits += child.visits;
  }
  if (opened_ == candidate_count_) return std::max(best, 0);
  fpu = first_play_urgency(weighted, child_visits);
  if (best == -1 || exploration * prior(opened_) + fpu > best_score) return opened_;
  return best;
}

// pick at a root that explores or excludes: every edge is scored, with the noisy prior,
// forced playouts and exclusions.
int32_t Node::pick_at_root(float n, float exploration, float& fpu) {
  const RootState& root = *root_;
  float weighted = 0.0f;
  float child_visits = 0.0f;
  for (int32_t slot = 0; slot < opened_; ++slot) {
    weighted += children_[slot].q * children_[slot].visits;
    child_visits += children_[slot].visits;
  }
  fpu = first_play_urgency(weighted, child_visits);
  // Forced playouts: at an exploring root, a child with fewer visits than
  // sqrt(k * noisy prior * N) (and than the best child) is chosen ahead of the others.
  const float best_visits = best_child_ == -1 ? 0.0f : children_[best_child_].visits;
  int32_t best = -1;
  float best_score = -std::numeric_limits<float>::infinity();
  for (int32_t e = 0; e < edge_count_; ++e) {
    if (!root.excluded.empty() && root.excluded[e]) continue;
    const float p = root.prior[e];
    float score = exploration * p + fpu;
    if (e < opened_) {
      const Child& child = children_[e];
      score = exploration * p / (child.explore_count + 1.0f) + child.q;
      if (root.exploring && best_child_ != -1 &&
          std::min(std::sqrt(p * constants().forced_playout_k * n), best_visits) >= child.visits + 1.0f) {
        score += kForcedPlayoutBonus;
      }
    }
    if (best == -1 || score > best_score) {
      best = e;
      best_score = score;
    }
  }
  return best;
}

// First-play urgency: the visit-weighted mean of the children's values, clamped into a
// band below the best child's value; 0 before any child has been backed up.
float Node::first_play_urgency(float weighted, float child_visits) const {
  if (best_child_ == -1) return 0.0f;
  const float mean = weighted / child_visits;
  const float best = children_[best_child_].q;
  const float high = best - fpu_min();
  const float low = best - fpu_max();
  return mean > high ? high : (low > mean ? low : mean);
}

SelectResult Node::select() {
  int32_t edge = 0;
  int32_t action = 0;
  {
    std::lock_guard lock(lock_);
    const float n = visits_;
    const float exploration = c() * std::sqrt(n);
    float fpu = 0.0f;
    const bool scan = root_ && (root_->exploring || root_->excluded_count > 0);
    edge = scan ? pick_at_root(n, exploration, fpu) : pick(exploration, fpu);
    // A collision: another descent still waits for this child's evaluation, or for its
    // visit of this terminal child to be backed up.
    const bool collision = edge < opened_ && (children_[edge].completed_visits == 0.0f ||
                                              (children_[edge].node->finished() &&
                                               children_[edge].visits > children_[edge].completed_visits));
    if (edge < edge_count_) action = edges_[edge].action;
    if (!collision) {
      visits_ = n + 1.0f;
      // The shipped exponent 1 leaves the count as it is: powf returns every whole number
      // of visits unchanged then (checked for all counts up to 2^24), so pow is skipped.
      const float increment = constants().virtual_loss_index == 1.0f
                                  ? visits_
                                  : std::pow(visits_, constants().virtual_loss_index);
      if (edge < opened_) {
        Child& child = children_[edge];
        child.visits += 1.0f;
        child.explore_count += increment;
        if (!child.node->finished())
          return {.needs_evaluation = true,
                  .status = SelectResult::kDescend,
                  .action = action,
                  .slot = edge,
                  .visits = visits_};
        // A finished game or a proven position is visited by counting only.
        std::lock_guard child_lock(child.node->lock_);
        child.node->visits_ += 1.0f;
        child.node->completed_visits_ += 1.0f;
        return {.needs_evaluation = false,
                .status = SelectResult::kTerminal,
                .action = action,
                .slot = edge,
                .visits = visits_};
      }
      if (edge == edge_count_) list_all_edges();
      if (edge != opened_) swap_edges(edge, opened_);
      add_slot();
      const int32_t slot = opened_++;
      children_[slot] = {nullptr, fpu, 1.0f, increment, 0.0f};
      return {.needs_evaluation = true,
              .status = SelectResult::kNewSlot,
              .action = edges_[slot].action,
              .slot = slot,
              .visits = visits_};
    }
  }
  // Outside this node's lock, so that each ancestor's lock is taken on its own.
  take_back_descent();
  return {.needs_evaluation = true, .status = SelectResult::kCollision, .action = action, .slot = edge, .visits = 0.0f};
}

// The candidates left out at construction become edges, each at their mean prior, after
// the edges there are.
void Node::list_all_edges() {
  const int64_t before = own_bytes();
  auto all = std::make_unique_for_overwrite<Edge[]>(candidate_count_);
  std::copy_n(edges_.get(), edge_count_, all.get());
  thread_local std::vector<uint8_t> listed;
  listed.assign(candidate_count_, 0);
  for (int32_t e = 0; e < edge_count_; ++e) listed[edges_[e].action] = 1;
  int32_t next = edge_count_;
  for (int32_t a = 0; a < candidate_count_; ++a) {
    if (!listed[a]) all[next++] = {static_cast<uint16_t>(a), tail_prior_};
  }
  edges_ = std::move(all);
  edge_count_ = candidate_count_;
  account(own_bytes() - before);
}

// Room for one more child: the slots grow by doubling.
void Node::add_slot() {
  if (opened_ < capacity_) return;
  const int64_t before = own_bytes();
  const auto capacity = static_cast<uint16_t>(std::min<int32_t>(candidate_count_, capacity_ == 0 ? 1 : 2 * capacity_));
  auto grown = std::make_unique_for_overwrite<Child[]>(capacity);
  std::copy_n(children_.get(), opened_, grown.get());
  children_ = std::move(grown);
  capacity_ = capacity;
  account(own_bytes() - before);
}

// Gives back the visit the current descent added to every ancestor of this node.
void Node::take_back_descent() {
  for (Node *below = this, *node = parent_; node != nullptr; below = node, node = node->parent_) {
    std::lock_guard lock(node->lock_);
    node->visits_ -= 1.0f;
    Child& child = node->children_[below->index_in_parent_];
    child.visits -= 1.0f;
    assert(child.visits >= child.completed_visits);
  }
}

void Node::set_child(int32_t slot, std::unique_ptr<Node> child) {
  std::lock_guard lock(lock_);
  delete children_[slot].node;
  children_[slot].node = child.release();
}

void Node::backup(int32_t slot, const NodeValue& leaf_value) {
  std::lock_guard lock(lock_);
  Child& child = children_[slot];
  child.explore_count = child.visits;
  completed_visits_ += 1.0f;
  child.completed_visits += 1.0f;
  assert(child.completed_visits <= child.visits && completed_visits_ <= visits_);

  NodeValue child_value;
  {
    std::lock_guard child_lock(child.node->lock_);
    child_value = child.node->value_;
  }
  // The value of the move for the player who chose it; balanced mode scores closeness to
  // an even game.
  float q = child_value.values[side_];
  if (balanced_) q = -std::fabs(q);
  child.q = q;

  const Child* best = best_child_ == -1 ? nullptr : &children_[best_child_];
  if (!best || child.completed_visits > best->completed_visits ||
      (child.completed_visits == best->completed_visits && q > best->q)) {
    best_child_ = static_cast<int16_t>(slot);
  }
  if (proof_.load().result == Proof::kNone) settle_proof(*child.node);
  if (proof_.load().result == Proof::kNone) update_value(leaf_value);
}

void Node::prove_win(int16_t plies) {
  std::lock_guard lock(lock_);
  if (proof_.load().result != Proof::kNone) return;
  const Proof proof{Proof::kWin, plies};
  proof_ = proof;
  value_ = proven_value(proof, side_);
}

// With the node's lock held, after `child` changed.
void Node::settle_proof(const Node& child) {
  const Proof of_child = child.proof();
  Proof proof;
  if (of_child.result == Proof::kLoss) {
    proof = {Proof::kWin, static_cast<int16_t>(of_child.plies + 1)};
  } else if (of_child.result == Proof::kWin &&
             opened_ + (root_ ? root_->excluded_count : 0) == static_cast<int32_t>(candidate_count_)) {
    // Lost when every candidate not excluded has a child proven won for the opponent.
    proof = {Proof::kLoss, 0};
    for (int32_t slot = 0; slot < opened_; ++slot) {
      const Node* other = children_[slot].node;
      const Proof p = other ? other->proof() : Proof{};
      if (p.result != Proof::kWin) return;
      proof.plies = std::max<int16_t>(proof.plies, static_cast<int16_t>(p.plies + 1));
    }
  } else {
    return;
  }
  proof_ = proof;
  value_ = proven_value(proof, side_);
}

void Node::update_value(const NodeValue& leaf_value) {
  if (!exploring()) {
    // Running mean over the completed visits; the own evaluation is the first sample.
    const float rate = 1.0f / completed_visits_;
    value_.values[0] += (leaf_value.values[0] - value_.values[0]) * rate;
    value_.values[1] += (leaf_value.values[1] - value_.values[1]) * rate;
    value_.draw_rate += (leaf_value.draw_rate - value_.draw_rate) * rate;
    value_.depth += (leaf_value.depth - value_.depth) * rate;
    return;
  }
  // An exploring root averages its children by their pruned weights, so that forced
  // playouts do not pull its value towards moves it would not play.
  const std::vector<float> weights = compute_pruned_weights();
  NodeValue total = root_->own_value;
  double weight_sum = 1.0;
  for (int32_t slot = 0; slot < opened_; ++slot) {
    const float weight = weights[slot];
    weight_sum += weight;
    if (weight == 0.0f) continue;
    NodeValue child_value;
    {
      Node& child = *children_[slot].node;
      std::lock_guard child_lock(child.lock_);
      child_value = child.value_;
    }
    total.values[0] += weight * child_value.values[0];
    total.values[1] += weight * child_value.values[1];
    total.draw_rate += weight * child_value.draw_rate;
    total.depth += weight * (child_value.depth + 1.0f);
  }
  const float scale = static_cast<float>(1.0 / weight_sum);
  value_.values[0] = total.values[0] * scale;
  value_.values[1] = total.values[1] * scale;
  value_.draw_rate = total.draw_rate * scale;
  value_.depth = total.depth * scale;
}

// Per slot: visits a child would not have received without forced playouts are pruned: a
// child keeps the visits with which its score (with the best child's exploration) still
// reaches the best child's. Uses the plain prior, not the noisy one.
std::vector<float> Node::compute_pruned_weights() const {
  std::vector<float> weights(opened_, 0.0f);
  if (best_child_ == -1) return weights;
  const float k = c() * std::sqrt(completed_visits_);
  const Child& best = children_[best_child_];
  const float target = k * prior(best_child_) / (best.completed_visits + 1.0f) + best.q;
  for (int32_t slot = 0; slot < opened_; ++slot) {
    const Child& child = children_[slot];
    // The best child keeps all its visits (the formula below gives it that only up to
    // rounding, and nothing when its prior is 0).
    if (slot == best_child_) {
      weights[slot] = child.completed_visits;
      continue;
    }
    const float u = k * prior(slot);
    if (target >= u + child.q) continue;
    const float r = u / std::max(target - child.q, 1e-10f) - 1.0f;
    weights[slot] = r > child.completed_visits ? child.completed_visits : (r < 0.0f ? 0.0f : r);
  }
  // The best child has the most completed visits, so no other outweighs it: a move drawn
  // at temperature 0 is the best child.
  assert(std::all_of(weights.begin(), weights.end(), [&](float w) { return w <= weights[best_child_]; }));
  return weights;
}

void Node::free_subtrees(float visits) {
  for (int32_t slot = 0; slot < opened_; ++slot) {
    Node* child = children_[slot].node;
    if (child == nullptr) continue;
    if (child->visits_ > visits) {
      child->free_subtrees(visits);
      continue;
    }
    child->drop_children();
  }
}

void Node::count_subtrees(std::vector<int64_t>& freed) const {
  freed.assign(kThresholds, 0);
  for (int32_t slot = 0; slot < opened_; ++slot) {
    if (children_[slot].node) children_[slot].node->count_below(visits_, freed);
  }
}

// The bytes of this node and all below it; adds what free_subtrees would free here to the
// thresholds that free it: at least this node's visits, below its parent's.
int64_t Node::count_below(float parent_visits, std::vector<int64_t>& freed) const {
  int64_t below = 0;
  for (int32_t slot = 0; slot < opened_; ++slot) {
    if (children_[slot].node) below += children_[slot].node->count_below(visits_, freed);
  }
  const int64_t slots = capacity_ > 0 ? eval::heap_block(capacity_ * sizeof(Child)) : 0;
  for (size_t k = 0; k < kThresholds; ++k) {
    const float threshold = std::ldexp(1.0f, static_cast<int>(k));
    if (visits_ <= threshold && threshold < parent_visits) freed[k] += below + slots;
  }
  return own_bytes() + below;
}

float Node::get_visits() {
  std::lock_guard lock(lock_);
  return visits_;
}

NodeValue Node::get_value() {
  std::lock_guard lock(lock_);
  return value_;
}

float Node::get_own_side_value() {
  std::lock_guard lock(lock_);
  return value_.values[side_];
}

float Node::get_best_child_visits() {
  std::lock_guard lock(lock_);
  return best_child_ == -1 ? 0.0f : children_[best_child_].visits;
}

int32_t Node::get_best_child() {
  std::lock_guard lock(lock_);
  return best_child_;
}

int32_t Node::get_best_action() {
  std::lock_guard lock(lock_);
  return best_child_ == -1 ? -1 : edges_[best_child_].action;
}

Node* Node::get_child(int32_t slot) {
  std::lock_guard lock(lock_);
  return children_[slot].node;
}

Node* Node::child_of_action(int32_t action) {
  std::lock_guard lock(lock_);
  for (int32_t slot = 0; slot < opened_; ++slot) {
    if (edges_[slot].action == action) return children_[slot].node;
  }
  return nullptr;
}

Node* Node::child_of_move(Move move) {
  std::lock_guard lock(lock_);
  for (int32_t slot = 0; slot < opened_; ++slot) {
    Node* child = children_[slot].node;
    if (child != nullptr && child->move() == move) return child;
  }
  return nullptr;
}

std::vector<float> Node::get_prior() const {
  std::vector<float> result(candidate_count_, from_half(tail_prior_));
  for (int32_t e = 0; e < edge_count_; ++e) result[edges_[e].action] = prior(e);
  return result;
}

bool Node::excluded(int32_t action) const {
  if (!root_ || root_->excluded.empty()) return false;
  for (int32_t e = 0; e < edge_count_; ++e) {
    if (edges_[e].action == action) return root_->excluded[e] != 0;
  }
  return false;
}

template <typename Field>
std::vector<float> Node::by_action(Field field) const {
  std::vector<float> result(candidate_count_, 0.0f);
  for (int32_t slot = 0; slot < opened_; ++slot) result[edges_[slot].action] = field(slot);
  return result;
}

std::vector<Proof> Node::get_proofs_by_action() {
  std::lock_guard lock(lock_);
  std::vector<Proof> result(candidate_count_);
  for (int32_t slot = 0; slot < opened_; ++slot) {
    if (children_[slot].node) result[edges_[slot].action] = children_[slot].node->proof();
  }
  return result;
}

int32_t Node::get_quickest_win_action() {
  const std::vector<Proof> proofs = get_proofs_by_action();
  int32_t quickest = -1;
  for (size_t a = 0; a < proofs.size(); ++a) {
    if (proofs[a].result == Proof::kLoss && (quickest == -1 || proofs[a].plies < proofs[quickest].plies)) {
      quickest = static_cast<int32_t>(a);
    }
  }
  return quickest;
}

std::vector<float> Node::get_q_by_action() {
  std::lock_guard lock(lock_);
  return by_action([this](int32_t slot) { return children_[slot].q; });
}

std::vector<float> Node::get_visits_by_action() {
  std::lock_guard lock(lock_);
  return by_action([this](int32_t slot) { return children_[slot].visits; });
}

std::vector<float> Node::get_pruned_weights_by_action(bool normalised) {
  std::lock_guard lock(lock_);
  // Computed afresh: only an exploring root keeps them current during the search.
  const std::vector<float> pruned = compute_pruned_weights();
  std::vector<float> weights = by_action([&pruned](int32_t slot) { return pruned[slot]; });
  if (normalised) apply_temperature(weights, 1.0f);
  return weights;
}

}  // namespace tovan::search
