// The result of evaluating one position: a prior per candidate move, the expected outcome
// for each player and the chance of a draw.
#pragma once

#include <array>
#include <vector>

namespace tovan::eval {

struct EvalResult {
  std::vector<float> policy;      // one prior per candidate, in candidate order; empty when the game is over
  std::array<float, 2> values{};  // by player (0 Black, 1 White), each -1..1
  float draw_rate = 0.0f;         // 0..1
};

}  // namespace tovan::eval
