// Long searches run in slices of kSliceSeconds (or of two rounds, when those take longer),
// with a progress report after slices 1, 2, 4, 8, …; the move decision and the opening
// generator both search this way.
#pragma once

#include <cstdint>
#include <functional>

#include "search/mcts.h"

namespace tovan::search {

inline constexpr float kSliceSeconds = 0.1f;

// Searches with `limits` (whose seconds are replaced by each slice's) until `deadline_ns`
// on the monotonic clock, the last slice ending there, or until a slice gains no visit.
void search_in_slices(MCTS& search, SearchLimits limits, int64_t deadline_ns, const std::function<void()>& report);

}  // namespace tovan::search
