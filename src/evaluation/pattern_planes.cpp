#include "evaluation/pattern_planes.h"

#include <bit>
#include <cassert>

#include "board/pattern_codes.h"
#include "board/pattern_tables.h"
#include "board/patterns.h"

namespace eval {
namespace {

// The two-line planes from plane 8, by their two code bits from 5 (four) to 8 (open two),
// the smaller first: 5+5, 5+6, 5+7, 5+8, 6+6, 6+7, 6+8, 7+7, 7+8, 8+8. Those with bit 8 are
// cell planes.
constexpr int kFirstPairPlane = 8;
constexpr int kPairIndex[4][4] = {{0, 1, 2, 3}, {-1, 4, 5, 6}, {-1, -1, 7, 8}, {-1, -1, -1, 9}};
// Code bits whose patterns are marked as spans.
constexpr uint16_t kSpanBits = kDoubleFour | kStraightFour | kFour | kOpenThree | kThree;
// A code bit in all four lanes of a code word.
constexpr uint64_t in_every_lane(uint16_t bits) { return bits * 0x0001000100010001ull; }
constexpr uint64_t kThreatLanes = in_every_lane(kFive | kSpanBits);

// The planes of a cell whose codes hold no five, four or three (most cells): open twos,
// twos and ones only, all cell planes.
uint64_t quiet_planes(uint64_t codes) {
  const uint64_t folded = codes | codes >> 32;
  const uint64_t kinds = folded | folded >> 16;
  const uint64_t open_twos = codes & in_every_lane(kOpenTwo);
  return uint64_t{open_twos != 0} << kOpenTwoPlane | uint64_t{(kinds & kTwo) != 0} << kTwoPlane |
         uint64_t{(kinds & kOne) != 0} << kOnePlane |
         uint64_t{(open_twos & (open_twos - 1)) != 0} << kOpenTwoOpenTwoPlane;
}

// The planes one player's patterns make at one empty cell.
class CellPatterns {
 public:
  CellPatterns(const Board& board, PlaneMasks& masks, int player, int shift, int x, int y)
      : board_(board), masks_(masks), player_(player), shift_(shift), x_(x), y_(y) {}

  void write(uint64_t codes) {
    std::array<unsigned, 16> directions{};  // per code bit, the directions that have it
    for (int d = 0; d < 4; ++d) {
      const uint16_t lane = code_lane(codes, d);
      for (unsigned bits = lane; bits != 0; bits &= bits - 1) directions[std::countr_zero(bits)] |= 1u << d;
      if (lane & kSpanBits) read_spans(d, lane);
    }
    const uint64_t cell = bit(0) * (directions[2] != 0) | bit(kOpenTwoPlane) * (directions[8] != 0) |
                          bit(kTwoPlane) * (directions[9] != 0) | bit(kOnePlane) * (directions[10] != 0);
    masks_[cell_index(x_, y_)] |= cell;
    mark_spans(kStraightFourPlane, directions[4], 4);
    // Under Renju two fours in one line are forbidden for Black, not a threat.
    if (!(board_.config().rule == Rule::Renju && player_ == 0)) mark_spans(kStraightFourPlane, directions[3], 3);
    mark_spans(kFourPlane, directions[5], 5);
    mark_spans(kOpenThreePlane, directions[6], 6);
    mark_spans(kThreePlane, directions[7], 7);

    // Patterns in two lines at once: two kinds of four, open three, three and open two,
    // the same or different, present in at least two different lines.
    for (int a = 5; a <= 8; ++a) {
      if (!directions[a]) continue;
      for (int b = a; b <= 8; ++b) {
        if (!directions[b] || !several(directions[a] | directions[b])) continue;
        const int plane = kFirstPairPlane + kPairIndex[a - 5][b - 5];
        if (b == 8) {
          masks_[cell_index(x_, y_)] |= bit(plane);
        } else if (a == b) {
          mark_spans(plane, directions[a], a);
        } else {
          mark_spans_beside(plane, directions[a], a, directions[b]);
          mark_spans_beside(plane, directions[b], b, directions[a]);
        }
      }
    }
  }

 private:
  static bool several(unsigned directions) { return (directions & (directions - 1)) != 0; }

  uint64_t bit(int plane) const { return uint64_t{1} << (shift_ + plane); }

  void read_spans(int d, uint16_t lane) {
    uint32_t key = line_key(board_, x_, y_, d);
    if (player_ == 1) key = white_key(key);
    const int rule_class_of_player = rule_class(board_.config().rule, player_);
    for (unsigned bits = lane & kSpanBits; bits != 0; bits &= bits - 1) {
      const int code_bit = std::countr_zero(bits);
      spans_[d][code_bit] = pattern_span(rule_class_of_player, key, code_bit);
    }
  }

  // Marks the cells of the pattern of code bit `code_bit` in direction d.
  void mark_span(int plane, int d, int code_bit) {
    const uint8_t span = spans_[d][code_bit];
    const uint64_t mark = bit(plane);
    // A span never reaches past the edge: the pattern tables cut it where the line ends.
    for (int t = span >> 4; t >= -(span & 0xF); --t) {
      const int x = x_ + t * DX[d], y = y_ + t * DY[d];
      assert(board_.on_board(x, y));
      masks_[cell_index(x, y)] |= mark;
    }
  }

  // The spans of `code_bit` in those of its directions that another line of `others` joins.
  void mark_spans_beside(int plane, unsigned directions, int code_bit, unsigned others) {
    for (int d = 0; d < 4; ++d) {
      if ((directions & (1u << d)) && (others & ~(1u << d))) mark_span(plane, d, code_bit);
    }
  }

  void mark_spans(int plane, unsigned directions, int code_bit) {
    for (int d = 0; d < 4; ++d) {
      if (directions & (1u << d)) mark_span(plane, d, code_bit);
    }
  }

  const Board& board_;
  PlaneMasks& masks_;
  int player_;
  int shift_;
  int x_;
  int y_;
  std::array<std::array<uint8_t, 8>, 4> spans_;  // by direction and code bit, read when the lane has the bit
};

}  // namespace

void pattern_plane_masks(const Board& board, PlaneMasks& masks) {
  masks.fill(0);
  const int side = board.side_to_move();
  const auto& own_codes = side == 0 ? board.black_codes() : board.white_codes();
  const auto& opponent_codes = side == 0 ? board.white_codes() : board.black_codes();
  for (int y = 0; y < board.config().height; ++y) {
    for (int x = 0; x < board.config().width; ++x) {
      const int index = cell_index(x, y);
      const uint64_t own = own_codes[index];
      const uint64_t opponent = opponent_codes[index];
      assert(board.cell(x, y) == EMPTY || (own == 0 && opponent == 0));
      if (own & kThreatLanes) {
        CellPatterns(board, masks, side, 0, x, y).write(own);
      } else {
        masks[index] |= quiet_planes(own);
      }
      if (opponent & kThreatLanes) {
        CellPatterns(board, masks, side ^ 1, kOpponentPlanes, x, y).write(opponent);
      } else {
        masks[index] |= quiet_planes(opponent) << kOpponentPlanes;
      }
    }
  }
}

}  // namespace eval
