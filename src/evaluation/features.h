// The network's view of a position: feature planes of zeros and ones built from the
// board and its pattern codes, and the decoding of one row of network output.
//
// Planes, C = B + 36 with B = 6 under Renju and 4 otherwise: 0 on board, 1 stones of the
// side to move, 2 the opponent's stones, 3 candidates; under Renju 4 ones when Black is
// to move and 5 Black's forbidden points. Then 18 pattern planes of the side to move and
// 18 of the opponent (see pattern_planes.h).
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "board/board.h"
#include "evaluation/eval_result.h"

namespace tovan::eval {

// C planes of H rows of W columns, plane after plane, row-major: plane c, row y, column x
// is at c * H * W + y * W + x.
using FeatureBuffer = std::vector<int8_t>;

// The network inputs of one position; the only input is "spatial_feature".
struct FeatureMap {
  FeatureBuffer spatial_feature;
};

inline constexpr const char* kSpatialFeature = "spatial_feature";

// 42 feature planes under Renju, 40 under the other rules.
int channel_count(Rule rule);

// The planes of the position (input version 0, the only feature set).
FeatureMap build_features(const Board& board);

// Recycles feature buffers so that steady-state evaluation allocates no feature memory.
// One pool per process, shared by every evaluator and thread; each call takes its mutex.
class FeatureBufferPool {
 public:
  static FeatureBufferPool& instance();
  // A zero-filled buffer of exactly `length` values.
  FeatureBuffer acquire(size_t length);
  void release(FeatureBuffer buffer);

 private:
  std::mutex mutex_;
  std::deque<FeatureBuffer> buffers_;
};

// Softmax of logits in place: exponentials in float32 relative to the largest logit,
// summed and divided in double.
void softmax(std::vector<float>& logits);

// The result for `board` from its row of network output: `policy_row` holds the H * W move
// logits row-major, `win_rate` the value for the side to move, `draw_rate` the draw chance.
EvalResult decode_output(const Board& board, const float* policy_row, float win_rate, float draw_rate);

}  // namespace tovan::eval
