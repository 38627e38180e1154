#include "search/sliced_search.h"

#include <algorithm>

#include "search/clock.h"

namespace tovan::search {
namespace {

constexpr float kRoundsPerSlice = 2.0f;

bool is_power_of_two(int64_t n) { return n > 0 && (n & (n - 1)) == 0; }

}  // namespace

void search_in_slices(MCTS& search, SearchLimits limits, int64_t deadline_ns, const std::function<void()>& report) {
  for (int64_t slice = 1; monotonic_ns() < deadline_ns; ++slice) {
    // A slice holds some rounds even of a slow network; the last one ends at the deadline.
    const float length = std::max(kSliceSeconds, kRoundsPerSlice * search.round_estimate_seconds());
    limits.seconds = std::min(length, static_cast<float>(deadline_ns - monotonic_ns()) / 1e9f);
    if (!search.search(limits)) return;
    if (is_power_of_two(slice)) report();
  }
}

}  // namespace tovan::search
