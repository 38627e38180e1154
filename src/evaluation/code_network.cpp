#include "evaluation/code_network.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cassert>
#include <cmath>
#include <cstring>
#include <set>

#include "board/pattern_codes.h"
#include "board/pattern_tables.h"
#include "evaluation/features.h"
#include "evaluation/inference_session.h"
#include "evaluation/pattern_planes.h"

namespace tovan::eval {
namespace {

using CellVector = std::array<float, kCellWidth>;
using HiddenVector = std::array<float, kPolicyHidden>;

// The code indices the pattern tables hold, in every rule class: few (eleven), so that the
// columns of a direction's two codes are added once, at load, for each pair of them.
const std::vector<uint16_t>& table_code_indices() {
  static const std::vector<uint16_t> indices = [] {
    std::set<uint16_t> found;
    for (int rule_class = 0; rule_class < kRuleClasses; ++rule_class) {
      const uint8_t* table = pattern_code_table(rule_class);
      for (uint32_t key = 0; key < kKeysPerClass; ++key) found.insert(code_in(table, key) >> 1);
    }
    return std::vector<uint16_t>(found.begin(), found.end());
  }();
  return indices;
}

float clip(float value) { return std::min(std::max(value, 0.0f), 1.0f); }

// The code index of one direction's lane of a cell's code word.
int lane_code(uint64_t codes, int direction) { return (codes >> (16 * direction + 1)) & (kCodeIndices - 1); }

// A cell's flags: its stone (the input plane 1 or 2), then input planes 3, 4 and 5; input
// plane 0 is set on every cell.
constexpr uint32_t kOwnStone = 1;
constexpr uint32_t kOpponentStone = 2;
constexpr uint32_t kStoneFlags = 3;
constexpr uint32_t kCandidateFlag = 4;
constexpr uint32_t kBlackToMoveFlag = 8;  // under Renju
constexpr uint32_t kForbiddenFlag = 16;   // under Renju

constexpr uint32_t kFlagCombinations = 32;

// The input planes a cell's flags stand for, in order.
std::vector<int> flag_planes(uint32_t flags) {
  std::vector<int> planes{0};
  if (flags & kStoneFlags) planes.push_back(static_cast<int>(flags & kStoneFlags));
  if (flags & kCandidateFlag) planes.push_back(3);
  if (flags & kBlackToMoveFlag) planes.push_back(4);
  if (flags & kForbiddenFlag) planes.push_back(5);
  return planes;
}

// The inputs of one cell: its flags, the pattern planes set on it and its four
// directions' code pairs.
struct CellInputs {
  uint32_t flags = 0;
  std::array<uint16_t, 48> planes;
  int plane_count = 0;
  std::array<uint16_t, 4> pairs;
};

// Eight numbers at a time (the compiler's vectors: one AVX2 register, or two of the
// baseline's). Each output number is summed in a fixed order, one lane per number and no
// fused multiply-add, so that the baseline and the AVX2 code give the same numbers.
using Lanes = float __attribute__((vector_size(32)));
constexpr int kLaneWidth = 8;
constexpr int kStateLanes = kCellWidth / kLaneWidth;
static_assert(kCellWidth % kLaneWidth == 0 && kPolicyHidden % kLaneWidth == 0);

[[gnu::always_inline]] inline void add_lanes(Lanes& sum, const float* numbers) {
  Lanes lanes;
  std::memcpy(&lanes, numbers, sizeof lanes);
  sum += lanes;
}

[[gnu::always_inline]] inline void clip_lanes(Lanes& lanes) {
  const Lanes zero = {};
  const Lanes one = zero + 1.0f;
  lanes = lanes < zero ? zero : lanes;
  lanes = lanes > one ? one : lanes;
}

// The clipped state of a cell, and for a candidate its policy input (the hidden layer
// before the position's context is added and it is clipped) and its logit without context.
[[gnu::always_inline]] inline float cell_answer(const CodeNetwork::Tables& t, const CellInputs& in, float* state,
                                                float* hidden_in) {
  Lanes sum[kStateLanes];
  for (int l = 0; l < kStateLanes; ++l) {
    sum[l] = Lanes{};
    add_lanes(sum[l], t.flag_columns.data() + in.flags * kCellWidth + l * kLaneWidth);
  }
  for (int p = 0; p < in.plane_count; ++p) {
    const float* column = t.plane_columns.data() + in.planes[p] * kCellWidth;
    for (int l = 0; l < kStateLanes; ++l) add_lanes(sum[l], column + l * kLaneWidth);
  }
  for (int d = 0; d < 4; ++d) {
    const float* column = t.code_pairs.data() + in.pairs[d] * kCellWidth;
    for (int l = 0; l < kStateLanes; ++l) add_lanes(sum[l], column + l * kLaneWidth);
  }
  for (int l = 0; l < kStateLanes; ++l) {
    clip_lanes(sum[l]);
    std::memcpy(state + l * kLaneWidth, &sum[l], sizeof sum[l]);
  }
  if (!(in.flags & kCandidateFlag)) return 0.0f;
  constexpr int kHiddenLanes = kPolicyHidden / kLaneWidth;
  Lanes hidden[kHiddenLanes];
  for (int l = 0; l < kHiddenLanes; ++l) {
    hidden[l] = Lanes{};
    add_lanes(hidden[l], t.policy_hidden_bias.data() + l * kLaneWidth);
  }
  for (int k = 0; k < kCellWidth; ++k) {
    const float* row = t.policy_hidden_by_input.data() + k * kPolicyHidden;
    for (int l = 0; l < kHiddenLanes; ++l) {
      Lanes weights;
      std::memcpy(&weights, row + l * kLaneWidth, sizeof weights);
      hidden[l] += weights * state[k];
    }
  }
  float logit = t.policy_out_bias;
  for (int l = 0; l < kHiddenLanes; ++l) {
    std::memcpy(hidden_in + l * kLaneWidth, &hidden[l], sizeof hidden[l]);
    clip_lanes(hidden[l]);
    for (int j = 0; j < kLaneWidth; ++j) logit += t.policy_out[l * kLaneWidth + j] * hidden[l][j];
  }
  return logit;
}

// The sum of the eight lanes, pairwise in a fixed order.
[[gnu::always_inline]] inline float sum_lanes(const Lanes& lanes) {
  return ((lanes[0] + lanes[4]) + (lanes[1] + lanes[5])) + ((lanes[2] + lanes[6]) + (lanes[3] + lanes[7]));
}

// A candidate's logit from its policy input and the position's context: eight products at
// a time, the two halves added and their lanes summed pairwise.
[[gnu::always_inline]] inline float candidate_logit(const CodeNetwork::Tables& t, const float* hidden_in,
                                                    const float* context) {
  static_assert(kPolicyHidden == 2 * kLaneWidth);
  Lanes halves[2];
  for (int l = 0; l < 2; ++l) {
    std::memcpy(&halves[l], hidden_in + l * kLaneWidth, sizeof halves[l]);
    add_lanes(halves[l], context + l * kLaneWidth);
    clip_lanes(halves[l]);
    Lanes weights;
    std::memcpy(&weights, t.policy_out.data() + l * kLaneWidth, sizeof weights);
    halves[l] *= weights;
  }
  return t.policy_out_bias + sum_lanes(halves[0] + halves[1]);
}

// The logits of the candidates whose policy inputs are `inputs`.
[[gnu::always_inline]] inline void candidate_logits(const CodeNetwork::Tables& t, const float* const* inputs,
                                                    size_t count, const float* context, float* logits) {
  for (size_t i = 0; i < count; ++i) logits[i] = candidate_logit(t, inputs[i], context);
}

// The products of `rows` rows of weights (row-major, 2 kCellWidth each) with the position's
// pool, eight products at a time, the lanes summed pairwise.
template <int rows>
std::array<float, rows> pool_products(const std::vector<float>& weights,
                                      const std::array<float, 2 * kCellWidth>& pool) {
  assert(weights.size() == size_t{rows} * 2 * kCellWidth);
  std::array<float, rows> products;
  for (int j = 0; j < rows; ++j) {
    Lanes sum = {};
    for (int l = 0; l < 2 * kCellWidth / kLaneWidth; ++l) {
      Lanes row;
      Lanes inputs;
      std::memcpy(&row, weights.data() + j * 2 * kCellWidth + l * kLaneWidth, sizeof row);
      std::memcpy(&inputs, pool.data() + l * kLaneWidth, sizeof inputs);
      sum += row * inputs;
    }
    products[j] = sum_lanes(sum);
  }
  return products;
}

// A distinct cell state of a position and the number of its cells.
struct CountedState {
  const float* state;
  float count;
};

// The sum (weighted by count) and the componentwise largest of the states, in the order
// given: the same numbers on both instruction sets.
[[gnu::always_inline]] inline void pool(const std::vector<CountedState>& states, float* sum, float* largest) {
  Lanes sums[kStateLanes] = {};
  Lanes largests[kStateLanes] = {};  // states are never below 0
  for (const CountedState& counted : states) {
    for (int l = 0; l < kStateLanes; ++l) {
      Lanes lanes;
      std::memcpy(&lanes, counted.state + l * kLaneWidth, sizeof lanes);
      sums[l] += lanes * counted.count;
      largests[l] = largests[l] > lanes ? largests[l] : lanes;
    }
  }
  std::memcpy(sum, sums, sizeof sums);
  std::memcpy(largest, largests, sizeof largests);
}

float cell_answer_baseline(const CodeNetwork::Tables& t, const CellInputs& in, float* state, float* hidden_in) {
  return cell_answer(t, in, state, hidden_in);
}
void pool_baseline(const std::vector<CountedState>& states, float* sum, float* largest) { pool(states, sum, largest); }
void candidate_logits_baseline(const CodeNetwork::Tables& t, const float* const* inputs, size_t count,
                               const float* context, float* logits) {
  candidate_logits(t, inputs, count, context, logits);
}

#if defined(__x86_64__) || defined(__i386__)
#define TOVAN_AVX2 [[gnu::target("avx2")]]
bool has_avx2() { return __builtin_cpu_supports("avx2"); }
#else
#define TOVAN_AVX2
bool has_avx2() { return false; }
#endif
TOVAN_AVX2 float cell_answer_avx2(const CodeNetwork::Tables& t, const CellInputs& in, float* state,
                                  float* hidden_in) {
  return cell_answer(t, in, state, hidden_in);
}
TOVAN_AVX2 void pool_avx2(const std::vector<CountedState>& states, float* sum, float* largest) {
  pool(states, sum, largest);
}
TOVAN_AVX2 void candidate_logits_avx2(const CodeNetwork::Tables& t, const float* const* inputs, size_t count,
                                      const float* context, float* logits) {
  candidate_logits(t, inputs, count, context, logits);
}
#undef TOVAN_AVX2

// What a cell's state and policy input follow from: its codes, pattern planes and flags.
struct CellKey {
  uint64_t own;
  uint64_t opponent;
  uint64_t planes;
  uint32_t flags;
  bool operator==(const CellKey&) const = default;
};

// What a probe reads comes first, in the entry's first cache line.
struct alignas(64) CellEntry {
  CellKey key{};
  uint32_t stamp = 0;  // the evaluation that last counted it
  uint32_t count = 0;  // its cells in that evaluation
  float logit = 0.0f;  // a candidate key's logit without context
  bool valid = false;
  alignas(32) CellVector state{};
  HiddenVector hidden_in{};  // a candidate key's policy input
};

// A thread's states and policy inputs by cell inputs, for one network: direct-mapped.
struct CellMemo {
  static constexpr size_t kSlots = 4096;
  uint64_t network = 0;
  uint32_t stamp = 0;
  std::vector<CellEntry> entries;
  std::vector<CellEntry*> touched;  // the entries counted by the current evaluation

  void reset(uint64_t serial) {
    network = serial;
    stamp = 0;
    entries.assign(kSlots, CellEntry{});
  }
  CellEntry& slot(const CellKey& key) {
    const uint64_t hash = (key.own * 0x9E3779B97F4A7C15ULL) ^ (key.opponent * 0xC2B2AE3D27D4EB4FULL) ^
                          (key.planes * 0x165667B19E3779F9ULL) ^ key.flags;
    return entries[(hash ^ (hash >> 29)) & (kSlots - 1)];
  }
};

// Each network's number, so that a thread's memo never serves another network's states.
std::atomic<uint64_t> network_serials{0};

}  // namespace

std::array<uint16_t, kCodesPerCell> code_indices(const Board& board, int index) {
  const int side = board.side_to_move();
  const uint64_t own = (side == 0 ? board.black_codes() : board.white_codes())[index];
  const uint64_t opponent = (side == 0 ? board.white_codes() : board.black_codes())[index];
  std::array<uint16_t, kCodesPerCell> indices;
  for (int d = 0; d < 4; ++d) {
    indices[d] = static_cast<uint16_t>(lane_code(own, d));
    indices[4 + d] = static_cast<uint16_t>(lane_code(opponent, d));
  }
  return indices;
}

CodeNetwork::CodeNetwork(const CodeNetworkWeights& weights, Rule rule, bool allow_avx2)
    : serial_(++network_serials),
      use_avx2_(allow_avx2 && has_avx2()),
      has_context_(std::any_of(weights.policy_context.begin(), weights.policy_context.end(),
                               [](float weight) { return weight != 0.0f; })) {
  if (weights.channels != channel_count(rule)) {
    throw ModelError("the code network reads " + std::to_string(weights.channels) + " input planes, " +
                     std::string(rule_name(rule)) + " has " + std::to_string(channel_count(rule)));
  }
  Tables& t = tables_;
  // The bias and the flags' planes, added in the order a cell's inputs are.
  t.flag_columns.assign(kFlagCombinations * kCellWidth, 0.0f);
  for (uint32_t flags = 0; flags < kFlagCombinations; ++flags) {
    const bool possible = (flags & kStoneFlags) != kStoneFlags &&
                          (rule == Rule::Renju || (flags & (kBlackToMoveFlag | kForbiddenFlag)) == 0);
    if (!possible) continue;
    float* column = t.flag_columns.data() + flags * kCellWidth;
    for (int i = 0; i < kCellWidth; ++i) column[i] = weights.cell_bias[i];
    for (const int plane : flag_planes(flags)) {
      for (int i = 0; i < kCellWidth; ++i) column[i] += weights.plane_columns[plane * kCellWidth + i];
    }
  }
  t.plane_columns = weights.plane_columns;
  const std::vector<uint16_t>& codes = table_code_indices();
  const size_t count = codes.size();
  t.compact.fill(0);
  for (size_t c = 0; c < count; ++c) t.compact[codes[c]] = static_cast<uint8_t>(c);
  t.pair_stride = static_cast<int>(count);
  t.code_pairs.resize(count * count * kCellWidth);
  for (size_t own = 0; own < count; ++own) {
    for (size_t opponent = 0; opponent < count; ++opponent) {
      for (int i = 0; i < kCellWidth; ++i) {
        t.code_pairs[(own * count + opponent) * kCellWidth + i] =
            weights.own_code_columns[codes[own] * kCellWidth + i] +
            weights.opponent_code_columns[codes[opponent] * kCellWidth + i];
      }
    }
  }
  t.policy_hidden_by_input.resize(size_t{kCellWidth} * kPolicyHidden);
  for (int j = 0; j < kPolicyHidden; ++j) {
    for (int k = 0; k < kCellWidth; ++k) {
      t.policy_hidden_by_input[k * kPolicyHidden + j] = weights.policy_hidden[j * kCellWidth + k];
    }
  }
  t.policy_hidden_bias = weights.policy_hidden_bias;
  t.policy_out = weights.policy_out;
  t.policy_out_bias = weights.policy_out_bias[0];
  t.policy_context = weights.policy_context;
  assert(t.policy_context.size() == size_t{kPolicyHidden} * 2 * kCellWidth);
  t.value_hidden = weights.value_hidden;
  t.value_hidden_bias = weights.value_hidden_bias;
  t.value_out = weights.value_out;
  t.value_out_bias = weights.value_out_bias;
}

EvalResult CodeNetwork::evaluate(const Board& board) const {
  assert(!board.game_over());
  const Tables& t = tables_;
  const BoardConfig& config = board.config();
  const int side = board.side_to_move();
  const bool renju = config.rule == Rule::Renju;
  const int pattern_base = renju ? 6 : 4;
  thread_local PlaneMasks masks;
  pattern_plane_masks(board, masks);
  std::array<uint8_t, kCellCount> candidate{};
  for (const Move move : board.candidates()) candidate[cell_index(move.x, move.y)] = 1;
  const auto& own_codes = side == 0 ? board.black_codes() : board.white_codes();
  const auto& opponent_codes = side == 0 ? board.white_codes() : board.black_codes();

  // A cell's state and policy input follow from its inputs alone, and the same inputs come
  // back cell after cell and position after position: each thread keeps them by inputs.
  thread_local CellMemo memo;
  if (memo.network != serial_) memo.reset(serial_);
  const uint32_t stamp = ++memo.stamp;
  memo.touched.clear();
  int cells = 0;
  thread_local std::vector<CountedState> counted;  // the distinct states of the position's cells
  counted.clear();
  const auto answer = use_avx2_ ? cell_answer_avx2 : cell_answer_baseline;
  // The state (and a candidate's policy input) of a cell with inputs `key`: from the key
  // alone, which is what lets the memo answer for it.
  const auto compute = [&](const CellKey& key, CellVector& state, HiddenVector& hidden_in) {
    CellInputs in;
    in.flags = key.flags;
    for (uint64_t bits = key.planes; bits != 0; bits &= bits - 1) {
      const int bit = std::countr_zero(bits);
      in.planes[in.plane_count++] = static_cast<uint16_t>(
          pattern_base + (bit >= kOpponentPlanes ? kPatternPlanes + bit - kOpponentPlanes : bit));
    }
    for (int d = 0; d < 4; ++d) {
      in.pairs[d] = static_cast<uint16_t>(t.compact[lane_code(key.own, d)] * t.pair_stride +
                                          t.compact[lane_code(key.opponent, d)]);
    }
    return answer(t, in, state.data(), hidden_in.data());
  };
  thread_local std::array<const CellEntry*, kCellCount> entry_of;  // the candidates' entries
  thread_local std::array<CellVector, kCellCount> uncached;        // states of cells that found no slot
  thread_local std::array<HiddenVector, kCellCount> uncached_hidden_in;
  thread_local std::array<float, kCellCount> uncached_logit;
  for (int y = 0; y < config.height; ++y) {
    for (int x = 0; x < config.width; ++x) {
      const int index = cell_index(x, y);
      const int8_t stone = board.cell(x, y);
      if (stone == BLOCKED) continue;
      ++cells;
      uint32_t flags = stone == BLACK || stone == WHITE ? (stone == side + 1 ? kOwnStone : kOpponentStone) : 0;
      if (candidate[index]) flags |= kCandidateFlag;
      if (renju && side == 0) flags |= kBlackToMoveFlag;
      if (renju && board.forbidden()[index]) flags |= kForbiddenFlag;
      const CellKey key{own_codes[index], opponent_codes[index], masks[index], flags};
      CellEntry& entry = memo.slot(key);
      if (entry.stamp == stamp && !(entry.key == key)) {  // the slot serves another cell of this position
        uncached_logit[index] = compute(key, uncached[index], uncached_hidden_in[index]);
        counted.push_back({uncached[index].data(), 1.0f});
        entry_of[index] = nullptr;
        continue;
      }
      if (!(entry.key == key) || !entry.valid) {
        entry.key = key;
        entry.valid = true;
        entry.logit = compute(key, entry.state, entry.hidden_in);
      }
      if (entry.stamp != stamp) {
        entry.stamp = stamp;
        entry.count = 0;
        memo.touched.push_back(&entry);
      }
      ++entry.count;
      entry_of[index] = &entry;
    }
  }
  for (const CellEntry* entry : memo.touched) counted.push_back({entry->state.data(), static_cast<float>(entry->count)});
  CellVector sum;
  CellVector largest;
  (use_avx2_ ? pool_avx2 : pool_baseline)(counted, sum.data(), largest.data());

  std::array<float, 2 * kCellWidth> pooled;
  for (int i = 0; i < kCellWidth; ++i) {
    pooled[i] = sum[i] / static_cast<float>(std::max(cells, 1));
    pooled[kCellWidth + i] = largest[i];
  }

  EvalResult result;
  result.policy.reserve(board.candidates().size());
  if (has_context_) {
    const HiddenVector context = pool_products<kPolicyHidden>(t.policy_context, pooled);
    thread_local std::vector<const float*> inputs;
    inputs.clear();
    for (const Move move : board.candidates()) {
      const int index = cell_index(move.x, move.y);
      inputs.push_back(entry_of[index] != nullptr ? entry_of[index]->hidden_in.data()
                                                  : uncached_hidden_in[index].data());
    }
    result.policy.resize(inputs.size());
    (use_avx2_ ? candidate_logits_avx2 : candidate_logits_baseline)(t, inputs.data(), inputs.size(), context.data(),
                                                                    result.policy.data());
  } else {
    for (const Move move : board.candidates()) {
      const int index = cell_index(move.x, move.y);
      result.policy.push_back(entry_of[index] != nullptr ? entry_of[index]->logit : uncached_logit[index]);
    }
  }
  softmax(result.policy);
  std::array<float, kValueHidden> hidden = pool_products<kValueHidden>(t.value_hidden, pooled);
  for (int j = 0; j < kValueHidden; ++j) hidden[j] = clip(t.value_hidden_bias[j] + hidden[j]);
  std::vector<float> outcome(kOutcomes);
  for (int m = 0; m < kOutcomes; ++m) {
    outcome[m] = t.value_out_bias[m];
    for (int j = 0; j < kValueHidden; ++j) outcome[m] += t.value_out[m * kValueHidden + j] * hidden[j];
  }
  softmax(outcome);
  result.values[side] = outcome[0] - outcome[2];
  result.values[side ^ 1] = -result.values[side];
  result.draw_rate = outcome[1];
  return result;
}

}  // namespace tovan::eval
