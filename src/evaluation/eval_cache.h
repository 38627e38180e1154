// Recent network results by position hash, so that a position reached again costs no
// network run. Bounded in entries and in bytes: when either bound is reached, the entry
// inserted first leaves first; overwriting or reading an entry does not make it younger.
// A capacity or byte budget of 0 stores nothing.
//
// Thread safety: every call locks the cache's own mutex.
#pragma once

#include <cstdint>
#include <deque>
#include <limits>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "evaluation/eval_result.h"

namespace tovan::eval {

class EvalCache {
 public:
  static constexpr int64_t kNoByteLimit = std::numeric_limits<int64_t>::max();

  explicit EvalCache(int32_t capacity) : capacity_(capacity) {}

  std::optional<EvalResult> lookup(uint64_t key);
  void insert(uint64_t key, const EvalResult& result);
  void clear();
  // Sets the byte budget, evicting the oldest entries until the cache fits it.
  void set_byte_budget(int64_t bytes);
  // Heap bytes the entries hold, as counted by entry_bytes.
  int64_t bytes();

  // Heap bytes one entry of this result costs: its hash-table node, its share of the
  // bucket array and of the insertion order, and its policy array, with the allocator's
  // headers and rounding.
  static int64_t entry_bytes(const EvalResult& result);

 private:
  void evict_oldest();

  std::mutex mutex_;
  std::unordered_map<uint64_t, EvalResult> entries_;
  std::deque<uint64_t> order_;  // every key once, oldest first
  int32_t capacity_;
  int64_t byte_budget_ = kNoByteLimit;
  int64_t bytes_ = 0;
};

}  // namespace tovan::eval
