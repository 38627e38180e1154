// The monotonic clock, as every timing of the engine reads it.
#pragma once

#include <chrono>
#include <cstdint>

namespace tovan::search {

inline int64_t monotonic_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

inline double seconds_since(int64_t start_ns) { return static_cast<double>(monotonic_ns() - start_ns) / 1e9; }

}  // namespace tovan::search
