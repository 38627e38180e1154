#include "evaluation/pattern_evaluator.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>

#include "evaluation/features.h"

namespace tovan::eval {
namespace {

constexpr uint64_t kOwnPlanes = (uint64_t{1} << kPatternPlanes) - 1;
constexpr uint64_t kOpponentPlaneBits = kOwnPlanes << kOpponentPlanes;

// tanh through one exponential, a few times faster than std::tanh and within 3e-7 of it.
float quick_tanh(float x) { return 1.0f - 2.0f / (std::exp(2.0f * x) + 1.0f); }

// No set of planes a cell can have (bits 18 to 31 are never set).
constexpr uint64_t kNoPlanes = ~uint64_t{0};

bool has(uint64_t masks, int bit) { return (masks >> bit) & 1; }

// One side's common planes from six bits (those of PatternEvaluator::common_index).
uint64_t spread_common(uint64_t bits) { return (bits & 0x1F) << 3 | (bits & 0x20) << 12; }

// Stones and playable cells around every cell, counted for the whole board at once in
// byte grids whose loops the compiler vectorises: first along the rows, then across them.
class Surroundings {
 public:
  explicit Surroundings(const Board& board) {
    const int width = board.config().width;
    const int height = board.config().height;
    // The cells with two rows and columns of padding on every side: 1 for a stone, and 1
    // for a playable cell (on the board and not blocked).
    PaddedGrid stones{};
    PaddedGrid playable{};
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < kMaxSide; ++x) {
        const int8_t cell = board.cell(x, y);
        const bool on_board = x < width;
        stones[y + 2][x + 2] = on_board && (cell == BLACK || cell == WHITE);
        playable[y + 2][x + 2] = on_board && cell != BLOCKED;
      }
    }
    // Per padded row, each cell's five columns: stones in all of them and in the middle
    // three, and playable cells.
    Grid row_all;
    Grid row_inner;
    Grid row_playable;
    for (int y = 0; y < height + 4; ++y) {
      for (int x = 0; x < kColumns; ++x) {
        const auto& s = stones[y];
        row_inner[y][x] = static_cast<uint8_t>(s[x + 1] + s[x + 2] + s[x + 3]);
        row_all[y][x] = static_cast<uint8_t>(row_inner[y][x] + s[x] + s[x + 4]);
        const auto& p = playable[y];
        row_playable[y][x] = static_cast<uint8_t>(p[x] + p[x + 1] + p[x + 2] + p[x + 3] + p[x + 4]);
      }
    }
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < kColumns; ++x) {
        near_[y][x] = static_cast<uint8_t>(row_inner[y + 1][x] + row_inner[y + 2][x] + row_inner[y + 3][x]);
        all_[y][x] = static_cast<uint8_t>(row_all[y][x] + row_all[y + 1][x] + row_all[y + 2][x] + row_all[y + 3][x] +
                                          row_all[y + 4][x]);
        playable_[y][x] = static_cast<uint8_t>(row_playable[y][x] + row_playable[y + 1][x] + row_playable[y + 2][x] +
                                               row_playable[y + 3][x] + row_playable[y + 4][x]);
      }
    }
  }

  struct Counts {
    int near;      // stones at distance 1
    int far;       // stones at distance 2
    int playable;  // playable cells in the 5 x 5 square
  };
  Counts around(int x, int y) const { return Counts{near_[y][x], all_[y][x] - near_[y][x], playable_[y][x]}; }

 private:
  // Whole vectors of columns, past the board's 20.
  static constexpr int kColumns = 32;
  using PaddedGrid = std::array<std::array<uint8_t, kColumns + 4>, kMaxSide + 4>;
  using Grid = std::array<std::array<uint8_t, kColumns>, kMaxSide + 4>;

  // By cell: stones at distance 1, stones in the 5 x 5 square, playable cells in it.
  Grid near_;
  Grid all_;
  Grid playable_;
};

}  // namespace

PatternEvaluator::PatternEvaluator(const PatternWeights& weights)
    : weights_(weights), counted_planes_(uint64_t{1} << (kOpponentPlanes + kFivePlane)) {
  for (int near = 0; near <= 8; ++near) {
    for (int far = 0; far <= 16; ++far) {
      const float sum =
          weights.proximity_ring[0] * static_cast<float>(near) + weights.proximity_ring[1] * static_cast<float>(far);
      proximity_[near][far] = std::tanh(sum) * weights.proximity_scale;
    }
  }
  const float edge_bias = static_cast<float>(-25.0 * static_cast<double>(weights.edge_per_cell));
  for (int cells = 0; cells <= 25; ++cells)
    edge_[cells] = weights.edge_per_cell * static_cast<float>(cells) + edge_bias;
  for (int p = 0; p < kPatternPlanes; ++p) {
    if (weights.value_own_sum[p] != 0.0f) counted_planes_ |= uint64_t{1} << p;
    if (weights.value_opponent_sum[p] != 0.0f) counted_planes_ |= uint64_t{1} << (kOpponentPlanes + p);
  }
  for (int chunk = 0; chunk < kChunks; ++chunk) {
    const bool own = chunk < kChunks / 2;
    const PlaneWeights& tiers = own ? weights.policy_own : weights.policy_opponent;
    const int first = (own ? chunk : chunk - kChunks / 2) * kChunkPlanes;
    for (uint32_t planes = 0; planes < chunks_[chunk].size(); ++planes) {
      TierSum& part = chunks_[chunk][planes];
      part = TierSum{0.0f, 0.0f};
      for (int p = 0; p < kChunkPlanes; ++p) {
        if (!((planes >> p) & 1)) continue;
        part.largest = std::max(part.largest, tiers[first + p]);
        part.sum += tiers[first + p] / weights.combo_divisor;
      }
    }
  }
  common_terms_.resize(1 << 12);
  for (uint64_t own = 0; own < 64; ++own) {
    for (uint64_t opponent = 0; opponent < 64; ++opponent) {
      const uint64_t planes = spread_common(own) | spread_common(opponent) << kOpponentPlanes;
      common_terms_[common_index(planes)] = pattern_term(planes);
    }
  }
}

uint32_t PatternEvaluator::common_index(uint64_t planes) {
  assert(!(planes & ~kCommonPlanes));
  return static_cast<uint32_t>(((planes >> 3) & 0x1F) | ((planes >> 12) & 0x20) | ((planes >> 29) & 0x7C0) |
                               ((planes >> 38) & 0x800));
}

EvalResult PatternEvaluator::evaluate(const Board& board) const {
  assert(!board.game_over());
  const int width = board.config().width;
  const int height = board.config().height;
  const int side = board.side_to_move();
  PlaneMasks masks;
  pattern_plane_masks(board, masks);
  if (board.config().rule == Rule::Renju) {
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        if (board.forbidden()[cell_index(x, y)])
          masks[cell_index(x, y)] &= side == 0 ? ~kOwnPlanes : ~kOpponentPlaneBits;
      }
    }
  }
  const Surroundings surroundings(board);

  EvalResult result;
  result.policy.resize(board.candidates().size());
  // The logits: first with the pattern terms of the common planes alone, listing without
  // a branch the candidates with other planes; then theirs again, with their pattern terms,
  // which often share their planes too (a three and a one of each side, say) and are
  // worked out once per set of planes.
  const std::vector<Move>& candidates = board.candidates();
  auto logit = [&](Move move, float pattern) {
    const Surroundings::Counts counts = surroundings.around(move.x, move.y);
    return pattern + proximity_[counts.near][counts.far] + edge_[counts.playable];
  };
  std::array<uint16_t, kCellCount> uncommon;
  size_t uncommon_count = 0;
  for (size_t i = 0; i < candidates.size(); ++i) {
    const Move move = candidates[i];
    // Black to move never has a forbidden point among the candidates.
    assert(!(board.config().rule == Rule::Renju && side == 0 && board.forbidden()[cell_index(move.x, move.y)]));
    const uint64_t mask = masks[cell_index(move.x, move.y)];
    result.policy[i] = logit(move, common_terms_[common_index(mask & kCommonPlanes)]);
    uncommon[uncommon_count] = static_cast<uint16_t>(i);
    uncommon_count += (mask & ~kCommonPlanes) != 0;
  }
  std::array<PatternTerm, 64> known;
  known.fill(PatternTerm{kNoPlanes, 0.0f});
  for (size_t u = 0; u < uncommon_count; ++u) {
    const Move move = candidates[uncommon[u]];
    const uint64_t mask = masks[cell_index(move.x, move.y)];
    PatternTerm& term = known[(mask * 0x9E3779B97F4A7C15ull) >> 58];
    if (term.planes != mask) term = PatternTerm{mask, pattern_term(mask)};
    result.policy[uncommon[u]] = logit(move, term.logit);
  }
  softmax(result.policy);
  const float win_rate = value(masks, board);
  result.values[side] = win_rate;
  result.values[side ^ 1] = -win_rate;
  result.draw_rate = draw_rate(board);
  return result;
}

float PatternEvaluator::pattern_term(uint64_t planes) const {
  float best = 0.0f;
  float combo = 0.0f;
  for (int chunk = 0; chunk < kChunks; ++chunk) {
    const int first =
        chunk < kChunks / 2 ? chunk * kChunkPlanes : kOpponentPlanes + (chunk - kChunks / 2) * kChunkPlanes;
    const TierSum& part = chunks_[chunk][(planes >> first) & ((1u << kChunkPlanes) - 1)];
    best = std::max(best, part.largest);
    combo += part.sum;
  }
  return best + quick_tanh(combo) * weights_.combo_scale;
}

float PatternEvaluator::value(const PlaneMasks& masks, const Board& board) const {
  // Whole rows of the masks: cells past the board's width are 0.
  const size_t cells = static_cast<size_t>(board.config().height) * kMaxSide;
  uint64_t present = 0;
  for (size_t i = 0; i < cells; ++i) present |= masks[i];
  // Plane p of both sides at once: each side's count in its half of a word.
  std::array<int, 64> counts{};
  const uint64_t counted = counted_planes_ & present;
  for (uint64_t planes = (counted | counted >> kOpponentPlanes) & kOwnPlanes; planes != 0; planes &= planes - 1) {
    const int p = std::countr_zero(planes);
    uint64_t both = 0;
    for (size_t i = 0; i < cells; ++i) both += (masks[i] >> p) & (uint64_t{1} << kOpponentPlanes | 1);
    counts[p] = static_cast<int>(both & 0xFFFFFFFF);
    counts[kOpponentPlanes + p] = static_cast<int>(both >> kOpponentPlanes);
  }
  const PatternWeights& w = weights_;
  float s = 0.0f;
  for (int p = 0; p < kPatternPlanes; ++p) {
    if (has(present, p)) s += w.value_own_max[p];
    if (has(present, kOpponentPlanes + p)) s -= w.value_opponent_max[p];
  }
  for (int p = 0; p < kPatternPlanes; ++p) {
    s += static_cast<float>(counts[p]) * w.value_own_sum[p];
    s -= static_cast<float>(counts[kOpponentPlanes + p]) * w.value_opponent_sum[p];
  }
  s += w.value_tempo;

  const int opponent_fives = counts[kOpponentPlanes + kFivePlane];
  if (has(present, kFivePlane)) return w.value_own_five;
  if (opponent_fives >= 2) return w.value_opponent_double_five;
  if (opponent_fives == 1) return std::tanh(s + w.value_forced_shift) * w.value_forced;
  if (has(present, kStraightFourPlane) || has(present, kFourFourPlane) || has(present, kFourOpenThreePlane)) {
    return w.value_own_strong;
  }
  return std::tanh(s) * w.value_quiet;
}

float PatternEvaluator::draw_rate(const Board& board) const {
  const uint32_t playable = board.stone_count() + board.empty_count();
  const float fill = static_cast<float>(board.stone_count()) / static_cast<float>(std::max<uint32_t>(playable, 1));
  return 1.0f / (1.0f + std::exp(-(fill * weights_.draw_fill + weights_.draw_bias)));
}

}  // namespace tovan::eval
