#include "evaluation/features.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>

#include "evaluation/pattern_planes.h"

namespace tovan::eval {

int channel_count(Rule rule) { return rule == Rule::Renju ? 42 : 40; }

FeatureMap build_features(const Board& board) {
  const int height = board.config().height;
  const int width = board.config().width;
  const size_t plane_size = static_cast<size_t>(height) * width;
  const int side = board.side_to_move();
  const bool renju = board.config().rule == Rule::Renju;
  const size_t basic_planes = renju ? 6 : 4;

  FeatureMap features{FeatureBufferPool::instance().acquire(channel_count(board.config().rule) * plane_size)};
  int8_t* planes = features.spatial_feature.data();
  auto set = [&](size_t plane, int x, int y, int8_t value = 1) { planes[plane * plane_size + y * width + x] = value; };
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int8_t state = board.cell(x, y);
      if (state != BLOCKED) set(0, x, y);
      if (state == BLACK || state == WHITE) set(state == side + 1 ? 1 : 2, x, y);
      if (renju) {
        set(4, x, y, side == 0);
        set(5, x, y, static_cast<int8_t>(board.forbidden()[cell_index(x, y)]));
      }
    }
  }
  for (Move move : board.candidates()) set(3, move.x, move.y);

  static thread_local PlaneMasks masks;
  pattern_plane_masks(board, masks);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const uint64_t mask = masks[cell_index(x, y)];
      for (uint64_t bits = mask; bits != 0; bits &= bits - 1) {
        const int bit = std::countr_zero(bits);
        const size_t block = bit >= kOpponentPlanes ? basic_planes + kPatternPlanes : basic_planes;
        set(block + bit % kOpponentPlanes, x, y);
      }
    }
  }
  return features;
}

FeatureBufferPool& FeatureBufferPool::instance() {
  static FeatureBufferPool pool;
  return pool;
}

FeatureBuffer FeatureBufferPool::acquire(size_t length) {
  FeatureBuffer buffer;
  {
    std::lock_guard lock(mutex_);
    if (!buffers_.empty()) {
      buffer = std::move(buffers_.front());
      buffers_.pop_front();
    }
  }
  buffer.assign(length, 0);
  return buffer;
}

void FeatureBufferPool::release(FeatureBuffer buffer) {
  std::lock_guard lock(mutex_);
  buffers_.push_back(std::move(buffer));
}

void softmax(std::vector<float>& logits) {
  if (logits.empty()) return;
  const float largest = *std::max_element(logits.begin(), logits.end());
  double sum = 0.0;
  for (float& logit : logits) {
    logit = std::exp(logit - largest);
    sum += logit;
  }
  for (float& logit : logits) logit = static_cast<float>(logit / sum);
}

EvalResult decode_output(const Board& board, const float* policy_row, float win_rate, float draw_rate) {
  EvalResult result;
  result.policy.reserve(board.candidates().size());
  assert(!board.game_over());
  for (Move move : board.candidates()) result.policy.push_back(policy_row[move.y * board.config().width + move.x]);
  softmax(result.policy);
  result.values[board.side_to_move()] = win_rate;
  result.values[board.side_to_move() ^ 1] = -win_rate;
  result.draw_rate = draw_rate;
  return result;
}

}  // namespace tovan::eval
