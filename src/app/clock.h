// The monotonic clock in nanoseconds, as every timing of the engine reads it.
#pragma once

#include <chrono>
#include <cstdint>

inline int64_t monotonic_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
