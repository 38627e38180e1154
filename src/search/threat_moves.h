// What the threat searches read off a position: a player's codes, the cells of a cell set,
// the five points a stone made, the defender's replies that stop them, and the cells
// where a reply could change a threat.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "board/board.h"
#include "board/pattern_codes.h"

namespace tovan::search {

inline constexpr uint64_t kFiveLanes = in_every_lane(kFive);
inline constexpr uint64_t kFourLanes = in_every_lane(kFour | kStraightFour | kDoubleFour);

inline const std::array<uint64_t, kCellCount>& codes_of(const Board& board, int player) {
  return player == 0 ? board.black_codes() : board.white_codes();
}

// Whether `player` may play `move`: not on a Renju forbidden point of Black's.
bool may_play(Board& board, int player, Move move);

// The move on the cell of index `index`.
inline Move move_at(int index) {
  return {static_cast<int8_t>(index % kMaxSide), static_cast<int8_t>(index / kMaxSide)};
}

// Calls visit(index) for every cell of `cells`, in index order (row-major).
template <typename Visit>
void for_each_cell(const CellSet& cells, Visit&& visit) {
  for (size_t word = 0; word < cells.size(); ++word) {
    for (uint64_t bits = cells[word]; bits != 0; bits &= bits - 1) {
      visit(static_cast<int>(64 * word) + std::countr_zero(bits));
    }
  }
}

inline bool any_cell(const CellSet& cells) {
  uint64_t any = 0;
  for (const uint64_t word : cells) any |= word;
  return any != 0;
}

// How many cells `cells` holds, counted up to two.
inline int count_up_to_two(const CellSet& cells) {
  int count = 0;
  for (const uint64_t word : cells) count += word == 0 ? 0 : (word & (word - 1)) ? 2 : 1;
  return count < 2 ? count : 2;
}

// The attacker's five points made by its stone on a move: they lie on its four lines, at
// most eight on each.
struct FivePoints {
  std::array<Move, 32> moves;
  int count = 0;
};

FivePoints five_points_through(const Board& board, int attacker, Move move);

// How many of the defender's replies (to move on `board`) leave the attacker none of its
// five points, counted up to two, and the first of them. A five point can only be taken,
// except under Caro, where a stone just beyond a five's end can also close it at both ends.
struct Replies {
  Move first{};
  int count = 0;  // 0, 1, or 2 for two or more
};

Replies stopping_replies(Board& board, const FivePoints& points);

// The defender's replies (to move on `board`) that could stop the attacker's VCF `threat`
// (attacker move first): the empty cells within five steps along the lines of its moves
// (where a stone can change a four, its five points, the ends of its fives or a block's
// counter-four), nearest the threat's first move first, then the defender's own fours
// anywhere. Cells the defender may not play are left out.
std::vector<Move> replies_to(Board& board, const std::vector<Move>& threat);

// Whether the side to move of `board` still wins by playing `line`, a VCF found on another
// position (attacker first), as it stands: a replay, not a search. Each attacker move is
// allowed and makes a five, or a four that leaves the defender no five and exactly one
// stopping reply, the line's next move; the last makes a five or a four no reply stops.
// The board is left as it was.
bool line_still_wins(Board& board, const std::vector<Move>& line);

}  // namespace tovan::search
