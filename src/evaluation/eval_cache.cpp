#include "evaluation/eval_cache.h"

namespace eval {

std::optional<EvalResult> EvalCache::lookup(uint64_t key) {
  std::lock_guard lock(mutex_);
  const auto found = entries_.find(key);
  if (found == entries_.end()) return std::nullopt;
  return found->second;
}

void EvalCache::insert(uint64_t key, const EvalResult& result) {
  std::lock_guard lock(mutex_);
  if (capacity_ <= 0) return;
  const auto found = entries_.find(key);
  if (found != entries_.end()) {
    found->second = result;
    return;
  }
  if (order_.size() >= static_cast<size_t>(capacity_)) {
    entries_.erase(order_.front());
    order_.pop_front();
  }
  order_.push_back(key);
  entries_.emplace(key, result);
}

void EvalCache::clear() {
  std::lock_guard lock(mutex_);
  entries_.clear();
  order_.clear();
}

}  // namespace eval
