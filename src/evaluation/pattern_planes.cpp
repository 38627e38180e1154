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
  const uint64_t index =
      (codes >> 8 & 07) | (codes >> 21 & 070) | (codes >> 34 & 0700) | (codes >> 47 & 07000);
  return kQuietPlanes[index];
}

// The lanes of a code word that hold `code_bit`, as four bits (bit d for lane d): the
// product moves lane d's bit to bit 45 + d, and no two partial products meet.
unsigned lanes_with(uint64_t codes, int code_bit) {
  return static_cast<unsigned>((((codes >> code_bit) & in_every_lane(1)) * 0x0000200040008001ull) >> 45) & 0xF;
}

// The span byte of `player`'s pattern through (x, y) in direction d.
uint8_t span_of(const Board& board, int player, int x, int y, int d) {
  const uint32_t key = line_key(board, x, y, d);
  return pattern_span(rule_class(board.config().rule, player), player == 1 ? white_key(key) : key);
}

// The planes one player's patterns make at one empty cell.
class CellPatterns {
 public:
  CellPatterns(const Board& board, PlaneMasks& masks, int player, int shift, int x, int y)
      : board_(board), masks_(masks), player_(player), shift_(shift), x_(x), y_(y) {}

  void write(uint64_t codes) {
    const uint64_t folded = codes | codes >> 32;
    const unsigned kinds = static_cast<uint16_t>(folded | folded >> 16);
    std::array<unsigned, 11> directions{};  // per code bit, the directions that have it
    for (unsigned bits = kinds & 0x7FC; bits != 0; bits &= bits - 1) {
      directions[std::countr_zero(bits)] = lanes_with(codes, std::countr_zero(bits));
    }
    masks_[cell_index(x_, y_)] |= bit(kFivePlane) * ((kinds & kFive) != 0) | quiet_planes(codes) << shift_;
    mark_spans(kStraightFourPlane, directions[4]);
    // Under Renju two fours in one line are forbidden for Black, not a threat.
    if (!(board_.config().rule == Rule::Renju && player_ == 0)) mark_spans(kStraightFourPlane, directions[3]);
    mark_spans(kFourPlane, directions[5]);
    mark_spans(kOpenThreePlane, directions[6]);
    mark_spans(kThreePlane, directions[7]);

    // Patterns in two lines at once: two kinds of four, open three, three and open two,
    // the same or different, present in at least two different lines. Two open twos are
    // among the quiet planes.
    const unsigned pair_kinds = (kinds >> 5) & 0x7;
    for (unsigned as = pair_kinds; as != 0; as &= as - 1) {
      const int a = 5 + std::countr_zero(as);
      for (unsigned bs = (kinds >> a) & (0xF >> (a - 5)); bs != 0; bs &= bs - 1) {
        const int b = a + std::countr_zero(bs);
        if (!several(directions[a] | directions[b])) continue;
        const int plane = kFirstPairPlane + kPairIndex[a - 5][b - 5];
        if (b == 8) {
          masks_[cell_index(x_, y_)] |= bit(plane);
        } else if (a == b) {
          mark_spans(plane, directions[a]);
        } else {
          mark_spans_beside(plane, directions[a], directions[b]);
          mark_spans_beside(plane, directions[b], directions[a]);
        }
      }
    }
    walk_spans();
  }

 private:
  static bool several(unsigned directions) { return (directions & (directions - 1)) != 0; }

  uint64_t bit(int plane) const { return uint64_t{1} << (shift_ + plane); }

  // Each line's span once, with every plane it carries.
  void walk_spans() {
    for (int d = 0; d < 4; ++d) {
      const uint64_t planes = planes_[d];
      if (!planes) continue;
      // A span never reaches past the edge: the pattern tables cut it where the line ends.
      const uint8_t span = span_of(board_, player_, x_, y_, d);
      const int step = DY[d] * kMaxSide + DX[d];
      for (int t = -(span & 0xF); t <= span >> 4; ++t) {
        assert(board_.on_board(x_ + t * DX[d], y_ + t * DY[d]));
        masks_[cell_index(x_, y_) + t * step] |= planes;
      }
    }
  }

  // Marks the cells of the pattern in direction d (when the spans are walked): all the
  // span kinds of one line share their cells.
  void mark_span(int plane, int d) { planes_[d] |= bit(plane); }

  // The spans in those of `directions` that another line of `others` joins.
  void mark_spans_beside(int plane, unsigned directions, unsigned others) {
    for (unsigned lines = directions; lines != 0; lines &= lines - 1) {
      const int d = std::countr_zero(lines);
      if (others & ~(1u << d)) mark_span(plane, d);
    }
  }

  void mark_spans(int plane, unsigned directions) {
    for (unsigned lines = directions; lines != 0; lines &= lines - 1) mark_span(plane, std::countr_zero(lines));
  }

  const Board& board_;
  PlaneMasks& masks_;
  int player_;
  int shift_;
  int x_;
  int y_;
  // By direction, the planes its span carries.
  std::array<uint64_t, 4> planes_{};
};

}  // namespace

void pattern_plane_masks(const Board& board, PlaneMasks& masks) {
  masks.fill(0);
  const int side = board.side_to_move();
  const auto& own_codes = side == 0 ? board.black_codes() : board.white_codes();
  const auto& opponent_codes = side == 0 ? board.white_codes() : board.black_codes();
  auto write = [&](int x, int y, int player, int shift, uint64_t codes) {
    if (codes & kThreatLanes) {
      CellPatterns(board, masks, player, shift, x, y).write(codes);
    } else {
      masks[cell_index(x, y)] |= quiet_planes(codes) << shift;
    }
  };
  for (int y = 0; y < board.config().height; ++y) {
    for (int x = 0; x < board.config().width; ++x) {
      const int index = cell_index(x, y);
      assert(board.cell(x, y) == EMPTY || (own_codes[index] == 0 && opponent_codes[index] == 0));
      write(x, y, side, 0, own_codes[index]);
      write(x, y, side ^ 1, kOpponentPlanes, opponent_codes[index]);
    }
  }
}

}  // namespace eval
