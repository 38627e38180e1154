#include "search/node.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>
#include <optional>

#include "evaluation/heap_block.h"
#include "search/temperature.h"

namespace tovan::search {
namespace {

// Forced playouts put a child that has fallen behind ahead of every other.
constexpr float kForcedPlayoutBonus = 1e10f;
// Dirichlet concentration of the root noise, spread over the candidates.
constexpr float kNoiseConcentration = 10.0f;
// What a node adds to its parent's six per-slot arrays: 28 bytes a slot, in blocks that
// grow by doubling from the allocator's smallest. With this figure the counted bytes
// came within 1.5% of the heap's growth in 20,000-visit searches on 15 x 15 and 20 x 20.
constexpr int64_t kSlotBytes = 96;
// The per-slot arrays start with room for as many slots as the allocator's smallest block
// holds anyway (24 bytes: six floats, three pointers), not growing 1, 2, 4.
constexpr size_t kFirstSlots = 6;
constexpr size_t kFirstChildren = 3;

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

}  // namespace

int64_t Node::footprint(size_t candidates) {
  // The node itself, its prior and its slot table, and its share of the parent's slots.
  const int64_t per_candidate = candidates == 0 ? 0 : eval::heap_block(candidates * sizeof(float));
  return eval::heap_block(sizeof(Node)) + 2 * per_candidate + kSlotBytes;
}

Node::Node(int32_t index_in_parent, Node* parent, const NodeConfig& constants, eval::EvalResult evaluation,
           bool terminal, int32_t side, Proof proof, Move move)
    : index_in_parent_(index_in_parent),
      parent_(parent),
      constants_(&constants),
      prior_(std::move(evaluation.policy)),
      own_value_(value_of(evaluation)),
      terminal_(terminal),
      move_(move),
      side_(side),
      proof_(proof),
      slot_of_action_(prior_.size(), -1),
      value_(proof.result == Proof::kNone ? own_value_ : proven_value(proof, side)) {}

void Node::exclude_actions(std::vector<uint8_t> excluded) {
  assert(visits_ == 1.0f && "root modes are set before the search");
  assert(excluded.size() == prior_.size() && std::count(excluded.begin(), excluded.end(), 0) > 0);
  excluded_count_ = static_cast<size_t>(std::count(excluded.begin(), excluded.end(), 1));
  excluded_ = std::move(excluded);
}

void Node::enable_balanced_mode() {
  assert(visits_ == 1.0f && "root modes are set before the search");
  if (balanced_) return;
  balanced_ = true;
  top_action_ = kTopStale;
  const float uniform = static_cast<float>(1.0 / static_cast<double>(prior_.size()));
  for (float& p : prior_) p = uniform;
}

void Node::enable_root_exploration(std::mt19937_64& generator) {
  assert(visits_ == 1.0f && "root modes are set before the search");
  if (root_exploration_) return;
  root_exploration_ = true;
  const size_t n = prior_.size();
  const std::vector<float> noise = dirichlet_noise(kNoiseConcentration / static_cast<float>(n), n, generator);
  noisy_prior_.resize(n);
  for (size_t a = 0; a < n; ++a) {
    noisy_prior_[a] = constants_->noise_weight * noise[a] + (1.0f - constants_->noise_weight) * prior_[a];
  }
}

// The candidate of the highest score, the lowest index among equals, scored over every
// candidate: the prior term (shrunk by the exploration count at a child) plus the child's
// value, or the first-play urgency where there is no child; forced playouts and excluded
// candidates at a root.
int32_t Node::pick_by_scan(float n, float exploration, float fpu) {
  const std::vector<float>& prior = noisy_prior_.empty() ? prior_ : noisy_prior_;
  thread_local std::vector<float> score;
  score.resize(prior.size());
  for (size_t a = 0; a < prior.size(); ++a) score[a] = exploration * prior[a] + fpu;
  for (size_t i = 0; i < slot_count(); ++i) {
    const int32_t a = slot_action_[i];
    score[a] = exploration * prior[a] / (child_explore_count_[i] + 1.0f) + child_q_[i];
  }

  // Forced playouts: at an exploring root, a child with fewer visits than
  // sqrt(k * noisy prior * N) (and than the best child) is chosen ahead of the others.
  if (root_exploration_) {
    forced_bonus_.assign(prior.size(), 0.0f);
    bool any = false;
    if (best_child_ != -1) {
      for (size_t i = 0; i < slot_count(); ++i) {
        const int32_t a = slot_action_[i];
        const float forced = std::sqrt(noisy_prior_[a] * constants_->forced_playout_k * n);
        const float cap = std::min(forced, child_visits_[best_child_]);
        if (cap >= child_visits_[i] + 1.0f) {
          forced_bonus_[a] = kForcedPlayoutBonus;
          any = true;
        }
      }
    }
    if (any) {
      for (size_t a = 0; a < prior.size(); ++a) score[a] += forced_bonus_[a];
    }
  }

  for (size_t a = 0; a < excluded_.size(); ++a) {
    if (excluded_[a]) score[a] = -std::numeric_limits<float>::infinity();
  }

  int32_t action = 0;
  for (size_t a = 1; a < score.size(); ++a) {
    if (score[a] > score[action]) action = static_cast<int32_t>(a);
  }
  return action;
}

// First-play urgency: the visit-weighted mean of the children's values, clamped into a
// band below the best child's value; 0 before any child has been backed up.
float Node::first_play_urgency(float n) const {
  if (best_child_ == -1) return 0.0f;
  assert(n > 1.0f);
  float weighted = 0.0f;
  for (size_t i = 0; i < slot_count(); ++i) weighted += child_q_[i] * child_visits_[i];
  const float mean = weighted / (n - 1.0f);
  const float best = child_q_[best_child_];
  const float high = best - fpu_min();
  const float low = best - fpu_max();
  return mean > high ? high : (low > mean ? low : mean);
}

// pick_by_scan's answer without the scan, where no root exploration or exclusion applies: the
// unexpanded candidates all share the first-play urgency, so the best of them is the one
// of the highest prior (the score grows with the prior), unless a lower prior rounds to
// the same score. When even the urgency's upper bound leaves that candidate below the best
// child, the urgency itself is not needed; otherwise it is computed into `fpu`. -1 where
// this cannot tell: such a tie, a non-finite score, or no shortcut at this node.
int32_t Node::pick_by_shortcut(float n, float exploration, std::optional<float>& fpu) {
  if (root_exploration_ || !excluded_.empty() || top_action_ == kNoShortcut) return -1;
  if (top_action_ == kTopStale) find_top_unexpanded();
  if (top_action_ == kNoShortcut) return -1;
  int32_t best = -1;
  float best_score = 0.0f;
  for (size_t i = 0; i < slot_count(); ++i) {
    const int32_t a = slot_action_[i];
    const float score = exploration * prior_[a] / (child_explore_count_[i] + 1.0f) + child_q_[i];
    if (!std::isfinite(score)) return -1;
    if (best == -1 || score > best_score || (score == best_score && a < best)) {
      best = a;
      best_score = score;
    }
  }
  if (top_action_ < 0) return best;
  // The urgency is an end of its band or a mean below the upper end (the children's values
  // are finite, as their scores were), so it is at most the larger end.
  float bound = 0.0f;
  if (best_child_ != -1) {
    const float high = child_q_[best_child_] - fpu_min();
    const float low = child_q_[best_child_] - fpu_max();
    bound = std::max(high, low);
  }
  if (best != -1 && exploration * top_prior_ + bound < best_score) return best;
  if (!fpu) fpu = first_play_urgency(n);
  const float top_score = exploration * top_prior_ + *fpu;
  if (!std::isfinite(top_score)) return -1;
  if (next_prior_ != -std::numeric_limits<float>::infinity() && !(exploration * next_prior_ + *fpu < top_score)) {
    return -1;
  }
  if (best == -1 || top_score > best_score || (top_score == best_score && top_action_ < best)) return top_action_;
  return best;
}

// The unexpanded candidate of the highest prior (the lowest index among equals) and the
// highest prior below it.
void Node::find_top_unexpanded() {
  // Locals, not the members, in the loop: the compiler would store those every step.
  int32_t top = kTopNone;
  float top_prior = -std::numeric_limits<float>::infinity();
  float next_prior = top_prior;
  for (size_t a = 0; a < prior_.size(); ++a) {
    if (slot_of_action_[a] != -1) continue;
    const float p = prior_[a];
    if (p > top_prior) {
      next_prior = top_prior;
      top_prior = p;
      top = static_cast<int32_t>(a);
    } else if (p < top_prior && p > next_prior) {
      next_prior = p;
    } else if (std::isnan(p)) {
      top_action_ = kNoShortcut;
      return;
    }
  }
  top_action_ = top;
  top_prior_ = top_prior;
  next_prior_ = next_prior;
}

SelectResult Node::select() {
  int32_t action = 0;
  int32_t slot = -1;
  {
    std::lock_guard lock(mutex_);
    const float n = visits_;
    const float exploration = c() * std::sqrt(n);
    // The first-play urgency, computed only where it is needed.
    std::optional<float> fpu;
    action = pick_by_shortcut(n, exploration, fpu);
    assert(action == -1 || action == pick_by_scan(n, exploration, first_play_urgency(n)));
    if (action == -1) {
      if (!fpu) fpu = first_play_urgency(n);
      action = pick_by_scan(n, exploration, *fpu);
    }
    slot = slot_of_action_[action];

    // A collision: another descent still waits for this child's evaluation, or for its
    // visit of this terminal child to be backed up.
    const bool collision =
        slot != -1 && (child_completed_visits_[slot] == 0.0f ||
                       (children_[slot]->finished() && child_visits_[slot] > child_completed_visits_[slot]));
    if (!collision) {
      visits_ = n + 1.0f;
      // The shipped exponent 1 leaves the count as it is: powf returns every whole number
      // of visits unchanged then (checked for all counts up to 2^24), so pow is skipped.
      const float increment =
          constants_->virtual_loss_index == 1.0f ? visits_ : std::pow(visits_, constants_->virtual_loss_index);
      if (slot != -1) {
        child_visits_[slot] += 1.0f;
        child_explore_count_[slot] += increment;
        Node* child = children_[slot].get();
        if (!child->finished())
          return {.needs_evaluation = true,
                  .status = SelectResult::kDescend,
                  .action = action,
                  .slot = slot,
                  .visits = visits_};
        // A finished game or a proven position is visited by counting only.
        std::lock_guard child_lock(child->mutex_);
        child->visits_ += 1.0f;
        child->completed_visits_ += 1.0f;
        return {.needs_evaluation = false,
                .status = SelectResult::kTerminal,
                .action = action,
                .slot = slot,
                .visits = visits_};
      }
      slot = static_cast<int32_t>(slot_count());
      if (slot == 0) reserve_first_slots();
      slot_of_action_[action] = slot;
      if (top_action_ != kNoShortcut) top_action_ = kTopStale;
      slot_action_.push_back(action);
      child_q_.push_back(fpu ? *fpu : first_play_urgency(n));
      child_visits_.push_back(1.0f);
      child_explore_count_.push_back(increment);
      children_.push_back(nullptr);
      child_completed_visits_.push_back(0.0f);
      return {.needs_evaluation = true,
              .status = SelectResult::kNewSlot,
              .action = action,
              .slot = slot,
              .visits = visits_};
    }
  }
  // Outside this node's lock, so that each ancestor's lock is taken on its own.
  take_back_descent();
  return {.needs_evaluation = true, .status = SelectResult::kCollision, .action = action, .slot = slot, .visits = 0.0f};
}

void Node::reserve_first_slots() {
  slot_action_.reserve(kFirstSlots);
  child_q_.reserve(kFirstSlots);
  child_visits_.reserve(kFirstSlots);
  child_explore_count_.reserve(kFirstSlots);
  children_.reserve(kFirstChildren);
  child_completed_visits_.reserve(kFirstSlots);
}

// Gives back the visit the current descent added to every ancestor of this node.
void Node::take_back_descent() {
  for (Node *below = this, *node = parent_; node != nullptr; below = node, node = node->parent_) {
    std::lock_guard lock(node->mutex_);
    node->visits_ -= 1.0f;
    node->child_visits_[below->index_in_parent_] -= 1.0f;
    assert(node->child_visits_[below->index_in_parent_] >= node->child_completed_visits_[below->index_in_parent_]);
  }
}

void Node::set_child(int32_t slot, std::unique_ptr<Node> child) {
  std::lock_guard lock(mutex_);
  children_[slot] = std::move(child);
}

void Node::backup(int32_t slot, const NodeValue& leaf_value) {
  std::lock_guard lock(mutex_);
  child_explore_count_[slot] = child_visits_[slot];
  completed_visits_ += 1.0f;
  child_completed_visits_[slot] += 1.0f;
  assert(child_completed_visits_[slot] <= child_visits_[slot] && completed_visits_ <= visits_);

  NodeValue child_value;
  {
    Node& child = *children_[slot];
    std::lock_guard child_lock(child.mutex_);
    child_value = child.value_;
  }
  // The value of the move for the player who chose it; balanced mode scores closeness to
  // an even game.
  float q = child_value.values[side_];
  if (balanced_) q = -std::fabs(q);
  child_q_[slot] = q;

  if (best_child_ == -1 || child_completed_visits_[slot] > child_completed_visits_[best_child_] ||
      (child_completed_visits_[slot] == child_completed_visits_[best_child_] && q > child_q_[best_child_])) {
    best_child_ = slot;
    best_action_ = slot_action_[slot];
  }
  if (proof_.load().result == Proof::kNone) settle_proof(*children_[slot]);
  if (proof_.load().result == Proof::kNone) update_value(leaf_value);
}

void Node::prove_win(int16_t plies) {
  std::lock_guard lock(mutex_);
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
  } else if (of_child.result == Proof::kWin && slot_count() + excluded_count_ == prior_.size()) {
    // Lost when every candidate not excluded has a child proven won for the opponent.
    proof = {Proof::kLoss, 0};
    for (const auto& other : children_) {
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
  if (!root_exploration_) {
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
  compute_pruned_weights();
  NodeValue total = own_value_;
  double weight_sum = 1.0;
  for (size_t i = 0; i < slot_count(); ++i) {
    const float weight = pruned_weights_[i];
    weight_sum += weight;
    if (weight == 0.0f) continue;
    NodeValue child_value;
    {
      Node& child = *children_[i];
      std::lock_guard child_lock(child.mutex_);
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

// Visits a child would not have received without forced playouts are pruned: a child keeps
// the visits with which its score (with the best child's exploration) still reaches the
// best child's. Uses the plain prior, not the noisy one.
void Node::compute_pruned_weights() {
  pruned_weights_.assign(slot_count(), 0.0f);
  if (best_child_ == -1) return;
  const float k = c() * std::sqrt(completed_visits_);
  const float target = k * prior_[best_action_] / (child_completed_visits_[best_child_] + 1.0f) + child_q_[best_child_];
  for (size_t i = 0; i < slot_count(); ++i) {
    // The best child keeps all its visits (the formula below gives it that only up to
    // rounding, and nothing when its prior is 0).
    if (static_cast<int32_t>(i) == best_child_) {
      pruned_weights_[i] = child_completed_visits_[i];
      continue;
    }
    const float u = k * prior_[slot_action_[i]];
    if (target >= u + child_q_[i]) continue;
    const float r = u / std::max(target - child_q_[i], 1e-10f) - 1.0f;
    pruned_weights_[i] = r > child_completed_visits_[i] ? child_completed_visits_[i] : (r < 0.0f ? 0.0f : r);
  }
  // The best child has the most completed visits, so no other outweighs it: a move drawn
  // at temperature 0 is the best child.
  for (size_t i = 0; i < slot_count(); ++i) assert(pruned_weights_[i] <= pruned_weights_[best_child_]);
}

float Node::get_visits() {
  std::lock_guard lock(mutex_);
  return visits_;
}

NodeValue Node::get_value() {
  std::lock_guard lock(mutex_);
  return value_;
}

float Node::get_own_side_value() {
  std::lock_guard lock(mutex_);
  return value_.values[side_];
}

float Node::get_best_child_visits() {
  std::lock_guard lock(mutex_);
  return best_child_ == -1 ? 0.0f : child_visits_[best_child_];
}

int32_t Node::get_best_child() {
  std::lock_guard lock(mutex_);
  return best_child_;
}

int32_t Node::get_best_action() {
  std::lock_guard lock(mutex_);
  return best_action_;
}

Node* Node::get_child(int32_t slot) {
  std::lock_guard lock(mutex_);
  return children_[slot].get();
}

std::vector<float> Node::by_action(const std::vector<float>& per_slot) const {
  std::vector<float> result(prior_.size(), 0.0f);
  for (size_t i = 0; i < per_slot.size(); ++i) result[slot_action_[i]] = per_slot[i];
  return result;
}

Node* Node::child_of_action(int32_t action) {
  std::lock_guard lock(mutex_);
  const int32_t slot = slot_of_action_[action];
  return slot == -1 ? nullptr : children_[slot].get();
}

std::vector<Proof> Node::get_proofs_by_action() {
  std::lock_guard lock(mutex_);
  std::vector<Proof> result(prior_.size());
  for (size_t i = 0; i < slot_count(); ++i) {
    if (children_[i]) result[slot_action_[i]] = children_[i]->proof();
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
  std::lock_guard lock(mutex_);
  return by_action(child_q_);
}

std::vector<float> Node::get_visits_by_action() {
  std::lock_guard lock(mutex_);
  return by_action(child_visits_);
}

std::vector<float> Node::get_pruned_weights_by_action(bool normalised) {
  std::lock_guard lock(mutex_);
  // Computed afresh: only an exploring root keeps them current during the search.
  compute_pruned_weights();
  std::vector<float> weights = by_action(pruned_weights_);
  if (normalised) apply_temperature(weights, 1.0f);
  return weights;
}

}  // namespace tovan::search
