// Recent network results by position hash, so that a position reached again costs no
// network run. Bounded: when full, the entry inserted first leaves first; overwriting or
// reading an entry does not make it younger. A capacity of 0 stores nothing.
//
// Thread safety: every call locks the cache's own mutex.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "evaluation/eval_result.h"

namespace eval {

class EvalCache {
 public:
  explicit EvalCache(int32_t capacity) : capacity_(capacity) {}

  std::optional<EvalResult> lookup(uint64_t key);
  void insert(uint64_t key, const EvalResult& result);
  void clear();

 private:
  std::mutex mutex_;
  std::unordered_map<uint64_t, EvalResult> entries_;
  std::deque<uint64_t> order_;  // every key once, oldest first
  int32_t capacity_;
};

}  // namespace eval
