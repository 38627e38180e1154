#include "evaluation/eval_cache.h"

#include <cassert>

#include "evaluation/heap_block.h"

namespace tovan::eval {

int64_t EvalCache::entry_bytes(const EvalResult& result) {
  // Stored copies are allocated to their size. A node holds the next pointer and the
  // key-value pair; the buckets reach one pointer per entry, twice that after a rehash.
  const size_t node = sizeof(void*) + sizeof(std::pair<const uint64_t, EvalResult>);
  const int64_t policy = result.policy.empty() ? 0 : heap_block(result.policy.size() * sizeof(float));
  return heap_block(node) + 2 * static_cast<int64_t>(sizeof(void*)) + static_cast<int64_t>(sizeof(uint64_t)) + policy;
}

std::optional<EvalResult> EvalCache::lookup(uint64_t key) {
  std::lock_guard lock(mutex_);
  const auto found = entries_.find(key);
  if (found == entries_.end()) return std::nullopt;
  return found->second;
}

void EvalCache::insert(uint64_t key, const EvalResult& result) {
  std::lock_guard lock(mutex_);
  const int64_t cost = entry_bytes(result);
  if (capacity_ <= 0 || cost > byte_budget_) return;
  const auto found = entries_.find(key);
  if (found != entries_.end()) {
    bytes_ += cost - entry_bytes(found->second);
    found->second = result;
  } else {
    while (!order_.empty() && (order_.size() >= static_cast<size_t>(capacity_) || bytes_ + cost > byte_budget_)) {
      evict_oldest();
    }
    order_.push_back(key);
    entries_.emplace(key, result);
    bytes_ += cost;
  }
  // Only an overwrite with a longer policy can leave the cache over its budget here.
  while (!order_.empty() && bytes_ > byte_budget_) evict_oldest();
  assert(order_.size() == entries_.size() && order_.size() <= static_cast<size_t>(capacity_));
  assert(bytes_ <= byte_budget_);
}

void EvalCache::evict_oldest() {
  const auto oldest = entries_.find(order_.front());
  assert(oldest != entries_.end());
  bytes_ -= entry_bytes(oldest->second);
  entries_.erase(oldest);
  order_.pop_front();
}

void EvalCache::clear() {
  std::lock_guard lock(mutex_);
  entries_.clear();
  order_.clear();
  bytes_ = 0;
}

void EvalCache::set_byte_budget(int64_t bytes) {
  std::lock_guard lock(mutex_);
  byte_budget_ = bytes;
  while (!order_.empty() && bytes_ > byte_budget_) evict_oldest();
}

int64_t EvalCache::bytes() {
  std::lock_guard lock(mutex_);
  return bytes_;
}

}  // namespace tovan::eval
