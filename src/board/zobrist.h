// Zobrist keys of the position hash, drawn once from a fixed seed so that hashes are
// the same in every run.
#pragma once

#include <array>
#include <cstdint>

#include "board/geometry.h"
#include "board/rule.h"

namespace tovan {

struct ZobristKeys {
  std::array<uint64_t, kRuleCount> rule_keys;
  // [cell][occupant - 1] for occupants BLACK, WHITE and BLOCKED.
  std::array<std::array<uint64_t, 3>, kCellCount> cell_keys;
  // One key per board dimension 0..20; a rectangular board contributes two.
  std::array<uint64_t, kMaxSide + 1> size_keys;
};

// Built on first use (thread-safe) and read-only afterwards.
const ZobristKeys& zobrist_keys();

}  // namespace tovan
