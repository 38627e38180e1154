// The result cache: first in, first out, whatever is read or overwritten, within its
// entry capacity and its byte budget.
#include "evaluation/eval_cache.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using eval::EvalCache;
using eval::EvalResult;

EvalResult result(float value) { return EvalResult{{value, 1.0f - value}, {value, -value}, value / 2}; }

// The keys from 1 to 9 that the cache holds, as digits.
std::string held(EvalCache& cache) {
  std::string keys;
  for (uint64_t key = 1; key <= 9; ++key) {
    if (cache.lookup(key)) keys += static_cast<char>('0' + key);
  }
  return keys;
}

TEST(EvalCache, EvictsTheOldestInsertion) {
  EvalCache cache(2);
  cache.insert(1, result(0.1f));
  cache.insert(2, result(0.2f));
  cache.insert(1, result(0.5f));  // neither overwriting nor reading makes 1 younger
  EXPECT_EQ(cache.lookup(1)->policy, result(0.5f).policy);
  cache.insert(3, result(0.3f));
  EXPECT_EQ(held(cache), "23");
  cache.insert(1, result(0.4f));  // an evicted key comes back as the youngest
  EXPECT_EQ(held(cache), "13");
  EXPECT_EQ(cache.lookup(1)->values[0], 0.4f);

  // No trace of the old order may evict the new entries early.
  cache.clear();
  EXPECT_EQ(held(cache), "");
  cache.insert(3, result(0.3f));
  cache.insert(4, result(0.4f));
  EXPECT_EQ(held(cache), "34");
  cache.insert(5, result(0.5f));
  EXPECT_EQ(held(cache), "45");
}

TEST(EvalCache, StaysWithinItsByteBudgetOldestFirst) {
  const int64_t entry = EvalCache::entry_bytes(result(0.0f));
  EvalCache cache(100);
  cache.set_byte_budget(3 * entry);
  for (uint64_t key = 1; key <= 5; ++key) cache.insert(key, result(0.1f));
  EXPECT_EQ(cache.bytes(), 3 * entry);
  EXPECT_EQ(held(cache), "345");
  cache.set_byte_budget(entry);  // a smaller budget evicts at once
  EXPECT_EQ(cache.bytes(), entry);
  EXPECT_EQ(held(cache), "5");
}

}  // namespace
