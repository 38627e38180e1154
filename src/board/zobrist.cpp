#include "board/zobrist.h"

#include <random>

namespace tovan {

namespace {

ZobristKeys draw_keys() {
  std::mt19937_64 generator(42);
  // Each key is the generator's output with its top bit inverted.
  auto next_key = [&generator] { return generator() ^ (uint64_t{1} << 63); };
  ZobristKeys keys;
  for (auto& key : keys.rule_keys) key = next_key();
  for (auto& cell : keys.cell_keys) {
    for (auto& key : cell) key = next_key();
  }
  for (auto& key : keys.size_keys) key = next_key();
  return keys;
}

// Drawn during static initialisation so that no search thread pays for it.
[[maybe_unused]] const ZobristKeys& startup_keys = zobrist_keys();

}  // namespace

const ZobristKeys& zobrist_keys() {
  static const ZobristKeys keys = draw_keys();
  return keys;
}

}  // namespace tovan
