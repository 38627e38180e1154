// The built-in evaluator: what the pattern networks of tools/build_models.py compute,
// straight from the board's pattern codes, without feature planes or a network run
// (see pattern_weights.h for the formulas). Under Renju, Black's pattern planes are
// cleared on Black's forbidden points before anything reads them, as in the networks.
#pragma once

#include <vector>

#include "board/board.h"
#include "evaluation/board_evaluator.h"
#include "evaluation/pattern_weights.h"

namespace tovan::eval {

class PatternEvaluator : public BoardEvaluator {
 public:
  explicit PatternEvaluator(const PatternWeights& weights);

  EvalResult evaluate(const Board& board) const override;

 private:
  // A set of pattern planes and its part of a candidate's logit.
  struct PatternTerm {
    uint64_t planes;
    float logit;
  };

  // The largest tier among the planes (at least 0) and the combo bonus.
  float pattern_term(uint64_t planes) const;
  // Bits 0 to 5 planes 3 to 7 and 17 of the side to move, bits 6 to 11 the opponent's.
  static uint32_t common_index(uint64_t planes);
  float value(const PlaneMasks& masks, const Board& board) const;
  float draw_rate(const Board& board) const;

  PatternWeights weights_;
  // The planes in chunks of six, three of each side: per chunk and set of its planes,
  // their largest tier (at least 0) and the sum of their tiers over the combo divisor.
  static constexpr int kChunkPlanes = 6;
  static constexpr int kChunks = 2 * kPatternPlanes / kChunkPlanes;
  struct TierSum {
    float largest;
    float sum;
  };
  std::array<std::array<TierSum, 1 << kChunkPlanes>, kChunks> chunks_;
  // By stones at distance 1 and 2, and by playable cells in the 5 x 5 square: the
  // proximity and edge terms of a candidate's logit.
  std::array<std::array<float, 17>, 9> proximity_;
  std::array<float, 26> edge_;
  uint64_t counted_planes_;  // the planes whose cells the value counts
  // The planes that most candidates have, and no others (open three, three, open two, two,
  // one and two open twos of each side): the pattern terms of all their sets, by
  // common_index.
  static constexpr uint64_t kCommonSidePlanes = uint64_t{0x1F} << 3 | uint64_t{1} << 17;
  static constexpr uint64_t kCommonPlanes = kCommonSidePlanes | kCommonSidePlanes << kOpponentPlanes;
  std::vector<float> common_terms_;
};

}  // namespace tovan::eval
