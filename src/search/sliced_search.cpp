#include "search/sliced_search.h"

#include <algorithm>
#include <vector>

#include "search/clock.h"

namespace tovan::search {
namespace {

constexpr float kRoundsPerSlice = 2.0f;
// A move counts towards the settling only with this share of the most visited move's
// visits: a few lucky visits do not keep the search going.
constexpr float kContenderShare = 0.25f;

bool is_power_of_two(int64_t n) { return n > 0 && (n & (n - 1)) == 0; }

// The visits of the most visited candidate and of the runner-up, and whether a contender
// has a better value than the most visited one.
struct Standing {
  float best = 0.0f;
  float second = 0.0f;
  bool contested = false;
};

Standing standing(Node& root) {
  const std::vector<float> visits = root.get_visits_by_action();
  const std::vector<float> q = root.get_q_by_action();
  Standing result;
  size_t most = 0;
  for (size_t a = 0; a < visits.size(); ++a) {
    if (visits[a] > visits[most]) most = a;
  }
  for (size_t a = 0; a < visits.size(); ++a) {
    if (a == most) continue;
    result.second = std::max(result.second, visits[a]);
    if (visits[a] >= kContenderShare * visits[most] && q[a] > q[most]) result.contested = true;
  }
  result.best = visits.empty() ? 0.0f : visits[most];
  return result;
}

}  // namespace

void search_in_slices(MCTS& search, SearchLimits limits, int64_t planned_ns, int64_t most_ns,
                      const std::function<void()>& report) {
  const int64_t start = monotonic_ns();
  limits.move_end_ns = most_ns;
  const float visits_at_start = search.root()->get_visits();
  for (int64_t slice = 1;; ++slice) {
    const int64_t now = monotonic_ns();
    const Standing standing_now = standing(*search.root());
    if (now >= planned_ns && (now >= most_ns || !standing_now.contested)) return;
    if (now < planned_ns && slice > 1 && limits.fast_search && !standing_now.contested &&
        search.root()->get_visits() >= limits.fast_visits_threshold) {
      // Visits to come by the planned end, at the rate so far: when even all of them
      // cannot lift the runner-up past the most visited move, the choice is made.
      const double rate = (search.root()->get_visits() - visits_at_start) / static_cast<double>(now - start);
      if (standing_now.best - standing_now.second > rate * static_cast<double>(planned_ns - now)) return;
    }
    const int64_t deadline = now < planned_ns ? planned_ns : most_ns;
    // A slice holds some rounds even of a slow network; the last one ends at the deadline.
    const float length = std::max(kSliceSeconds, kRoundsPerSlice * search.round_estimate_seconds());
    limits.seconds = std::min(length, static_cast<float>(deadline - now) / 1e9f);
    if (!search.search(limits)) return;
    if (is_power_of_two(slice)) report();
  }
}

}  // namespace tovan::search
