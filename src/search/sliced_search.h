// Long searches run in slices of kSliceSeconds (or of two rounds, when those take longer),
// with a progress report after slices 1, 2, 4, 8, …; the move decision and the opening
// generator both search this way.
#pragma once

#include <cstdint>
#include <functional>

#include "search/mcts.h"

namespace tovan::search {

inline constexpr float kSliceSeconds = 0.1f;

// Searches with `limits` (whose seconds are replaced by each slice's) until `planned_ns` on
// the monotonic clock, and on past it while the search has not settled (the most visited
// move is not the one of the best value), until `most_ns` at the latest; the last slice
// ends at the deadline in force. It stops sooner when a slice gains no visit, or, with the
// fast stop past its visits threshold, when the search is settled and no other move could
// overtake the most visited one by `planned_ns` at the search's rate.
void search_in_slices(MCTS& search, SearchLimits limits, int64_t planned_ns, int64_t most_ns,
                      const std::function<void()>& report);

}  // namespace tovan::search
