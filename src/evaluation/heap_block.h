// The heap bytes one allocation takes, for counting what the evaluation caches and the
// search tree hold against their budgets.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tovan::eval {

// A block of `payload` bytes as glibc's allocator lays it out on 64-bit Linux: an 8-byte
// header, rounded up to 16 bytes, 32 at least.
constexpr int64_t heap_block(size_t payload) {
  const auto bytes = static_cast<int64_t>(payload) + 8;
  return bytes <= 32 ? 32 : (bytes + 15) / 16 * 16;
}

}  // namespace tovan::eval
