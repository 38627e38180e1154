#include "evaluation/features.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>

#include "board/pattern_codes.h"
#include "board/pattern_tables.h"
#include "board/patterns.h"

namespace eval {
namespace {

// Pattern planes of one player, from the plane where the block starts.
enum PatternPlane {
  kFivePlane = 0,          // cell: playing here makes a five
  kStraightFourPlane = 1,  // spans of straight fours (and two fours in one line, but not Black's under Renju)
  kFourPlane = 2,          // spans of fours
  kOpenThreePlane = 3,     // spans of open threes
  kThreePlane = 4,         // spans of threes
  kOpenTwoPlane = 5,       // cell
  kTwoPlane = 6,           // cell
  kOnePlane = 7,           // cell
  kFirstPairPlane = 8,     // ten planes of patterns made in two lines at once
  kPatternPlanes = 18,
};

// Pairs of code bits in the order of their planes; a pair with bit 8 is a cell plane.
constexpr int kPairs[10][2] = {{5, 5}, {5, 6}, {5, 7}, {5, 8}, {6, 6}, {6, 7}, {6, 8}, {7, 7}, {7, 8}, {8, 8}};

class PlaneWriter {
 public:
  PlaneWriter(const Board& board, FeatureBuffer& buffer)
      : board_(board), buffer_(buffer), height_(board.config().height), width_(board.config().width) {}

  void set(int plane, int x, int y, int8_t value = 1) {
    // A span never reaches past the edge: the pattern tables cut it where the line ends.
    assert(x >= 0 && x < width_ && y >= 0 && y < height_);
    assert((static_cast<size_t>(plane) + 1) * height_ * width_ <= buffer_.size());
    buffer_[static_cast<size_t>(plane) * height_ * width_ + y * width_ + x] = value;
  }

  // Marks the cells of the pattern of code bit `bit` in direction d for `player` at (x, y).
  void mark_span(int plane, int player, int x, int y, int d, int bit) {
    uint32_t key = line_key(board_, x, y, d);
    if (player == 1) key = white_key(key);
    const uint8_t span = pattern_span(rule_class(board_.config().rule, player), key, bit);
    for (int t = span >> 4; t >= -(span & 0xF); --t) set(plane, x + t * DX[d], y + t * DY[d]);
  }

  void mark_spans(int plane, int player, int x, int y, unsigned directions, int bit) {
    for (int d = 0; d < 4; ++d) {
      if (directions & (1u << d)) mark_span(plane, player, x, y, d, bit);
    }
  }

  // The 18 pattern planes of `player` at the empty cell (x, y), from plane `first`.
  void write_patterns(int first, int player, int x, int y) {
    const uint64_t codes = (player == 0 ? board_.black_codes() : board_.white_codes())[cell_index(x, y)];
    if (codes == 0) return;                 // most cells far from the stones
    std::array<unsigned, 16> directions{};  // per code bit, the directions that have it
    for (int d = 0; d < 4; ++d) {
      for (unsigned lane = code_lane(codes, d); lane != 0; lane &= lane - 1) {
        directions[std::countr_zero(lane)] |= 1u << d;
      }
    }
    if (directions[2]) set(first + kFivePlane, x, y);
    mark_spans(first + kStraightFourPlane, player, x, y, directions[4], 4);
    // Under Renju two fours in one line are forbidden for Black, not a threat.
    if (!(board_.config().rule == Rule::Renju && player == 0)) {
      mark_spans(first + kStraightFourPlane, player, x, y, directions[3], 3);
    }
    mark_spans(first + kFourPlane, player, x, y, directions[5], 5);
    mark_spans(first + kOpenThreePlane, player, x, y, directions[6], 6);
    mark_spans(first + kThreePlane, player, x, y, directions[7], 7);
    if (directions[8]) set(first + kOpenTwoPlane, x, y);
    if (directions[9]) set(first + kTwoPlane, x, y);
    if (directions[10]) set(first + kOnePlane, x, y);

    for (int pair = 0; pair < 10; ++pair) {
      const int a = kPairs[pair][0];
      const int b = kPairs[pair][1];
      const int plane = first + kFirstPairPlane + pair;
      // Both kinds present, in at least two different lines.
      const bool holds = directions[a] && directions[b] && std::popcount(directions[a] | directions[b]) >= 2;
      if (b == 8) {
        if (holds) set(plane, x, y);
      } else if (holds && a == b) {
        mark_spans(plane, player, x, y, directions[a], a);
      } else if (holds) {
        for (int d1 = 0; d1 < 4; ++d1) {
          for (int d2 = 0; d2 < 4; ++d2) {
            if (d1 == d2 || !(directions[a] & (1u << d1)) || !(directions[b] & (1u << d2))) continue;
            mark_span(plane, player, x, y, d1, a);
            mark_span(plane, player, x, y, d2, b);
          }
        }
      }
    }
  }

 private:
  const Board& board_;
  FeatureBuffer& buffer_;
  int height_;
  int width_;
};

}  // namespace

int channel_count(Rule rule) { return rule == Rule::Renju ? 42 : 40; }

FeatureMap build_features(const Board& board) {
  const int height = board.config().height;
  const int width = board.config().width;
  const int side = board.side_to_move();
  const bool renju = board.config().rule == Rule::Renju;
  const int basic_planes = renju ? 6 : 4;

  FeatureMap features{
      FeatureBufferPool::instance().acquire(static_cast<size_t>(channel_count(board.config().rule)) * height * width)};
  PlaneWriter planes(board, features.spatial_feature);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int8_t state = board.cell(x, y);
      if (state != BLOCKED) planes.set(0, x, y);
      if (state == BLACK || state == WHITE) planes.set(state == side + 1 ? 1 : 2, x, y);
      if (renju) {
        planes.set(4, x, y, side == 0);
        planes.set(5, x, y, static_cast<int8_t>(board.forbidden()[cell_index(x, y)]));
      }
    }
  }
  for (Move move : board.candidates()) planes.set(3, move.x, move.y);

  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (board.cell(x, y) != EMPTY) continue;
      planes.write_patterns(basic_planes, side, x, y);
      planes.write_patterns(basic_planes + kPatternPlanes, side ^ 1, x, y);
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

}  // namespace eval
