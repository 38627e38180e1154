// The result cache: first in, first out, whatever is read or overwritten, within its
// entry capacity and its byte budget.
#include "evaluation/eval_cache.h"

#include <gtest/gtest.h>

namespace {

using eval::EvalCache;
using eval::EvalResult;

EvalResult result(float value) { return EvalResult{{value, 1.0f - value}, {value, -value}, value / 2}; }

// The stored value of `key`, or -1 when it misses.
float stored(EvalCache& cache, uint64_t key) {
  const auto found = cache.lookup(key);
  return found ? found->values[0] : -1.0f;
}

TEST(EvalCache, KeepsWholeResults) {
  EvalCache cache(4);
  EXPECT_FALSE(cache.lookup(7).has_value());
  cache.insert(7, result(0.25f));
  const auto found = cache.lookup(7);
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->policy, (std::vector<float>{0.25f, 0.75f}));
  EXPECT_EQ(found->values, (std::array<float, 2>{0.25f, -0.25f}));
  EXPECT_EQ(found->draw_rate, 0.125f);
}

TEST(EvalCache, EvictsTheOldestInsertion) {
  EvalCache cache(2);
  cache.insert(1, result(0.1f));
  cache.insert(2, result(0.2f));
  EXPECT_EQ(stored(cache, 1), 0.1f);  // reading does not make it younger
  cache.insert(3, result(0.3f));
  EXPECT_EQ(stored(cache, 1), -1.0f);
  EXPECT_EQ(stored(cache, 2), 0.2f);
  EXPECT_EQ(stored(cache, 3), 0.3f);
  cache.insert(1, result(0.4f));  // an evicted key comes back as the youngest
  EXPECT_EQ(stored(cache, 2), -1.0f);
  EXPECT_EQ(stored(cache, 3), 0.3f);
  EXPECT_EQ(stored(cache, 1), 0.4f);
}

TEST(EvalCache, OverwriteUpdatesButKeepsTheAge) {
  EvalCache cache(2);
  cache.insert(1, result(0.1f));
  cache.insert(2, result(0.2f));
  cache.insert(1, result(0.5f));
  EXPECT_EQ(stored(cache, 1), 0.5f);
  EXPECT_EQ(stored(cache, 2), 0.2f);
  cache.insert(3, result(0.3f));  // 1 is still the oldest
  EXPECT_EQ(stored(cache, 1), -1.0f);
  EXPECT_EQ(stored(cache, 2), 0.2f);
  EXPECT_EQ(stored(cache, 3), 0.3f);
  cache.insert(4, result(0.4f));
  EXPECT_EQ(stored(cache, 2), -1.0f);
  EXPECT_EQ(stored(cache, 3), 0.3f);
  EXPECT_EQ(stored(cache, 4), 0.4f);
}

TEST(EvalCache, ClearStartsAFreshOrder) {
  EvalCache cache(3);
  cache.insert(1, result(0.1f));
  cache.insert(2, result(0.2f));
  cache.insert(3, result(0.3f));
  cache.clear();
  for (uint64_t key : {1, 2, 3}) EXPECT_EQ(stored(cache, key), -1.0f);
  // No trace of the old order may evict the new entries early.
  cache.insert(2, result(0.4f));
  cache.insert(4, result(0.5f));
  cache.insert(5, result(0.6f));
  EXPECT_EQ(stored(cache, 2), 0.4f);
  EXPECT_EQ(stored(cache, 4), 0.5f);
  EXPECT_EQ(stored(cache, 5), 0.6f);
  cache.insert(6, result(0.7f));
  EXPECT_EQ(stored(cache, 2), -1.0f);
  EXPECT_EQ(stored(cache, 4), 0.5f);
  EXPECT_EQ(stored(cache, 6), 0.7f);
}

TEST(EvalCache, StaysWithinItsByteBudgetOldestFirst) {
  const int64_t entry = EvalCache::entry_bytes(result(0.0f));
  EvalCache cache(100);
  cache.set_byte_budget(3 * entry);
  for (uint64_t key = 1; key <= 5; ++key) cache.insert(key, result(static_cast<float>(key) / 10.0f));
  EXPECT_EQ(cache.bytes(), 3 * entry);
  EXPECT_EQ(stored(cache, 2), -1.0f);
  EXPECT_EQ(stored(cache, 3), 0.3f);
  cache.set_byte_budget(entry);  // a smaller budget evicts at once
  EXPECT_EQ(cache.bytes(), entry);
  EXPECT_EQ(stored(cache, 4), -1.0f);
  EXPECT_EQ(stored(cache, 5), 0.5f);
}

TEST(EvalCache, ZeroCapacityStoresNothing) {
  EvalCache cache(0);
  cache.insert(1, result(0.1f));
  cache.insert(1, result(0.2f));
  EXPECT_FALSE(cache.lookup(1).has_value());
}

}  // namespace
