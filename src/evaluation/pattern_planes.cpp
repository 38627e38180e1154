#include "evaluation/pattern_planes.h"

#include <bit>
#include <cassert>

#include "board/pattern_codes.h"
#include "board/pattern_tables.h"
#include "board/patterns.h"

namespace tovan::eval {
namespace {

// The two-line planes from plane 8, by the kinds of their two lines (0 four, 1 open three,
// 2 three, 3 open two; code bits 5 to 8), the smaller first: 0+0, 0+1, 0+2, 0+3, 1+1, 1+2,
// 1+3, 2+2, 2+3, 3+3. Those with an open two are cell planes.
constexpr int kFirstPairPlane = 8;
constexpr int kPairIndex[4][4] = {{0, 1, 2, 3}, {-1, 4, 5, 6}, {-1, -1, 7, 8}, {-1, -1, -1, 9}};
constexpr int kOpenTwoKind = 3;
constexpr uint32_t pair_plane(int a, int b) {
  return uint32_t{1} << (kFirstPairPlane + (a <= b ? kPairIndex[a][b] : kPairIndex[b][a]));
}
// Code bits whose patterns are marked as spans.
constexpr uint16_t kSpanBits = kDoubleFour | kStraightFour | kFour | kOpenThree | kThree;
constexpr uint64_t kThreatLanes = in_every_lane(kFive | kSpanBits);

// The planes of a cell whose codes hold no five, four or three (most cells): open twos,
// twos and ones only, all cell planes. They depend on bits 8 to 10 of the four lanes,
// gathered into a 12-bit index (three bits per lane).
constexpr auto kQuietPlanes = [] {
  std::array<uint32_t, 4096> planes{};
  for (uint32_t index = 0; index < planes.size(); ++index) {
    const int open_two_lines = std::popcount(index & 01111);
    planes[index] = uint32_t{open_two_lines > 0} << kOpenTwoPlane | uint32_t{(index & 02222) != 0} << kTwoPlane |
                    uint32_t{(index & 04444) != 0} << kOnePlane | uint32_t{open_two_lines > 1} << kOpenTwoOpenTwoPlane;
  }
  return planes;
}();

uint64_t quiet_planes(uint64_t codes) {
  static_assert(kOpenTwo == 1 << 8 && kTwo == 1 << 9 && kOne == 1 << 10);
  // The product moves lane d's three bits to bits 52 + 3d; the other partial products
  // stay apart below bit 48.
  const uint64_t index = (((codes >> 8) & in_every_lane(07)) * 0x0010008004002000ull) >> 52;
  return kQuietPlanes[index];
}

// The planes of a line of a cell by the kinds of four, open three and three present in
// the cell's lines (bits 0 to 2) and repeated (bits 3 to 5), and by the line's own kind bit
// (1 four, 2 open three, 4 three): its kind's plane and one two-line plane per kind it meets
// in another line (itself when repeated).
constexpr auto kLinePlanes = [] {
  constexpr int kOwnPlane[3] = {kFourPlane, kOpenThreePlane, kThreePlane};
  std::array<std::array<uint32_t, 5>, 64> planes{};
  for (uint32_t kinds = 0; kinds < 64; ++kinds) {
    for (int k = 0; k < 3; ++k) {
      const uint32_t met = ((kinds & 07) & ~(1u << k)) | ((kinds >> 3) & (1u << k));
      planes[kinds][1 << k] = uint32_t{1} << kOwnPlane[k];
      for (int j = 0; j < 3; ++j) {
        if ((met >> j) & 1) planes[kinds][1 << k] |= pair_plane(k, j);
      }
    }
  }
  return planes;
}();

// The two-line cell planes of an open two, by bits 5 to 8 of the cell's codes (the kinds
// four, open three, three and open two in some line): one per kind that meets the open two.
constexpr auto kOpenTwoPairs = [] {
  std::array<uint32_t, 16> planes{};
  for (uint32_t kinds = 8; kinds < 16; ++kinds) {
    for (int j = 0; j < 3; ++j) {
      if ((kinds >> j) & 1) planes[kinds] |= pair_plane(j, kOpenTwoKind);
    }
  }
  return planes;
}();

// The planes one player's patterns make at one empty cell whose codes hold a five, four or
// three, apart from the quiet planes.
class CellPatterns {
 public:
  CellPatterns(const Board& board, PlaneMasks& masks, const uint8_t* spans, int player, int shift, int x, int y)
      : board_(board), masks_(masks), spans_(spans), player_(player), shift_(shift), x_(x), y_(y) {}

  // A line holds one kind of four, open three, three or open two at most, so two kinds
  // met are always in different lines, and a kind meets itself when two lines hold it.
  void write(uint64_t codes) {
    const uint64_t folded = codes | codes >> 32;
    const unsigned kinds = static_cast<uint16_t>(folded | folded >> 16);
    unsigned present = 0;   // bit k: kind k in some line
    unsigned repeated = 0;  // bit k: kind k in several lines
    unsigned walked = 0;    // the lines with a kind
    for (int d = 0; d < 4; ++d) {
      const unsigned kind = (code_lane(codes, d) >> 5) & 07;
      assert(std::popcount(kind) + ((code_lane(codes, d) & kOpenTwo) != 0) <= 1);
      assert(!(code_lane(codes, d) & (kDoubleFour | kStraightFour)) || (kind & 1));
      repeated |= present & kind;
      present |= kind;
      walked |= unsigned{kind != 0} << d;
    }
    masks_[cell_index(x_, y_)] |= (uint64_t{(kinds & kFive) != 0} << kFivePlane | kOpenTwoPairs[(kinds >> 5) & 0xF])
                                  << shift_;

    // By the kind bits of a line (bits 5 to 7 of its code, one of them), the planes its span
    // carries, apart from the straight four.
    const std::array<uint32_t, 5>& by_kind = kLinePlanes[present | repeated << 3];
    // Under Renju two fours in one line are forbidden for Black, not a threat.
    const bool double_four_wins = !(board_.config().rule == Rule::Renju && player_ == 0);
    const unsigned straight_bits = kStraightFour | (double_four_wins ? kDoubleFour : 0);
    const uint64_t straight_plane = uint64_t{1} << (shift_ + kStraightFourPlane);
    for (; walked != 0; walked &= walked - 1) {
      const int d = std::countr_zero(walked);
      const unsigned lane = code_lane(codes, d);
      walk_span(d, uint64_t{by_kind[(lane >> 5) & 07]} << shift_ | ((lane & straight_bits) != 0 ? straight_plane : 0));
    }
  }

 private:
  // The line's span with every plane it carries: all the span kinds of one line share
  // their cells.
  void walk_span(int d, uint64_t planes) {
    // A span never reaches past the edge: the pattern tables cut it where the line ends.
    const uint32_t key = line_key(board_, x_, y_, d);
    const uint32_t keys[2] = {key, white_key(key)};  // picked without a branch
    const uint8_t span = spans_[keys[player_]];
    const int step = DY[d] * kMaxSide + DX[d];
    for (int t = -(span & 0xF); t <= span >> 4; ++t) {
      assert(board_.on_board(x_ + t * DX[d], y_ + t * DY[d]));
      masks_[cell_index(x_, y_) + t * step] |= planes;
    }
  }

  const Board& board_;
  PlaneMasks& masks_;
  const uint8_t* spans_;  // the player's span table, by key
  int player_;
  int shift_;
  int x_;
  int y_;
};

}  // namespace

void pattern_plane_masks(const Board& board, PlaneMasks& masks) {
  masks.fill(0);
  const int side = board.side_to_move();
  const auto& own_codes = side == 0 ? board.black_codes() : board.white_codes();
  const auto& opponent_codes = side == 0 ? board.white_codes() : board.black_codes();
  const std::array<uint64_t, kCellCount>* const codes[2] = {&own_codes, &opponent_codes};
  // First the quiet planes of every cell, listing the cells of each player that hold a
  // five, four or three without a branch (it would often be mispredicted); then those.
  std::array<uint16_t, 2 * kCellCount> threats;  // cell index * 2 + 1 for the opponent
  size_t threat_count = 0;
  for (int y = 0; y < board.config().height; ++y) {
    for (int x = 0; x < board.config().width; ++x) {
      const int index = cell_index(x, y);
      const uint64_t own = own_codes[index];
      const uint64_t opponent = opponent_codes[index];
      assert(board.cell(x, y) == EMPTY || (own == 0 && opponent == 0));
      masks[index] = quiet_planes(own) | quiet_planes(opponent) << kOpponentPlanes;
      threats[threat_count] = static_cast<uint16_t>(2 * index);
      threat_count += (own & kThreatLanes) != 0;
      threats[threat_count] = static_cast<uint16_t>(2 * index + 1);
      threat_count += (opponent & kThreatLanes) != 0;
    }
  }
  const Rule rule = board.config().rule;
  const uint8_t* const spans[2] = {pattern_span_table(rule_class(rule, 0)), pattern_span_table(rule_class(rule, 1))};
  for (size_t i = 0; i < threat_count; ++i) {
    const int index = threats[i] / 2;
    const int opponent = threats[i] & 1;
    const int player = side ^ opponent;
    CellPatterns(board, masks, spans[player], player, opponent * kOpponentPlanes, index % kMaxSide, index / kMaxSide)
        .write((*codes[opponent])[index]);
  }
}

}  // namespace tovan::eval
