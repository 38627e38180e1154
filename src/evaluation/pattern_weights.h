// The weights of the built-in pattern evaluator: a small text file, written by
// tools/build_models.py from the numbers of the pattern networks (so that the two answer
// alike) and replaceable by weights fitted to games without touching the code.
//
// Format: '#' starts a comment; the first entry is "tovan-pattern-weights 1"; then every
// name below exactly once, each followed by its numbers on one line. Per-plane vectors
// have 18 numbers in the plane order of pattern_planes.h.
#pragma once

#include <array>
#include <string>

#include "evaluation/pattern_planes.h"

namespace tovan::eval {

using PlaneWeights = std::array<float, kPatternPlanes>;

struct PatternWeights {
  // Policy: the logit of a candidate is the largest tier among its planes (0 if none is
  // larger) + combo_scale * tanh(sum of its tiers / combo_divisor) + proximity_scale *
  // tanh(proximity_ring[0] * stones at distance 1 + proximity_ring[1] * stones at
  // distance 2) + edge_per_cell * (playable cells in the 5 x 5 square around it - 25).
  PlaneWeights policy_own, policy_opponent;
  float combo_scale, combo_divisor;
  float proximity_scale;
  std::array<float, 2> proximity_ring;
  float edge_per_cell;
  // Value: s = value_tempo + sum over the planes present anywhere of value_*_max (the
  // opponent's subtracted) + sum over the cells of each plane of value_*_sum (likewise).
  // With a five to play the value is value_own_five; else against two five points of the
  // opponent value_opponent_double_five; against one, value_forced * tanh(s +
  // value_forced_shift); without, value_own_strong with a straight four, four-four or
  // four-open three to play, value_quiet * tanh(s) otherwise.
  PlaneWeights value_own_max, value_opponent_max, value_own_sum, value_opponent_sum;
  float value_tempo, value_quiet, value_own_five, value_opponent_double_five, value_own_strong, value_forced,
      value_forced_shift;
  // Draw rate: sigmoid(draw_bias + draw_fill * stones / playable cells).
  float draw_bias, draw_fill;
};

// Throws ModelError naming the file and the fault: unreadable, another format or version,
// an unknown, missing or repeated name, a wrong count of numbers, or a number that is not
// finite.
PatternWeights read_pattern_weights(const std::string& path);

}  // namespace tovan::eval
