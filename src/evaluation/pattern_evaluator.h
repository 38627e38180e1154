// The built-in evaluator: what the pattern networks of tools/build_models.py compute,
// straight from the board's pattern codes, without feature planes or a network run
// (see pattern_weights.h for the formulas). Under Renju, Black's pattern planes are
// cleared on Black's forbidden points before anything reads them, as in the networks.
#pragma once

#include "board/board.h"
#include "evaluation/eval_result.h"
#include "evaluation/pattern_weights.h"

namespace eval {

class PatternEvaluator {
 public:
  explicit PatternEvaluator(const PatternWeights& weights);

  // The result of a position whose game is not over. Any number of threads may call it.
  EvalResult evaluate(const Board& board) const;

 private:
  float value(const PlaneMasks& masks, const Board& board) const;
  float draw_rate(const Board& board) const;

  PatternWeights weights_;
  PlaneWeights combo_own_, combo_opponent_;  // the tiers over the combo divisor
  // By stones at distance 1 and 2, and by playable cells in the 5 x 5 square: the
  // proximity and edge terms of a candidate's logit.
  std::array<std::array<float, 17>, 9> proximity_;
  std::array<float, 26> edge_;
  uint64_t counted_planes_;  // the planes whose cells the value counts
};

}  // namespace eval
