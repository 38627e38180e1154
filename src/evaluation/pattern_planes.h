// The 36 pattern planes of a position (18 for the side to move, then 18 for the
// opponent) as one bit mask per cell. The feature planes of the networks and the built-in
// pattern evaluator both read them from here.
//
// Plane order of one player's block; "cell" planes mark only the move, "spans" planes
// the move, the stones of the pattern and its key cells:
//   0 five (cell), 1 straight four (spans: open four, or two fours in one line, but not
//   Black's under Renju), 2 four, 3 open three, 4 three (spans), 5 open two, 6 two,
//   7 one (cells), then ten planes of patterns made in two lines at once: 8 four-four,
//   9 four-open three, 10 four-three (spans), 11 four-open two (cell), 12 open three-open
//   three, 13 open three-three (spans), 14 open three-open two (cell), 15 three-three
//   (spans), 16 three-open two, 17 open two-open two (cells).
#pragma once

#include <array>
#include <cstdint>

#include "board/board.h"

namespace tovan::eval {

inline constexpr int kPatternPlanes = 18;
// Bit p of a cell's mask is plane p of the side to move; bit kOpponentPlanes + p is plane
// p of the opponent.
inline constexpr int kOpponentPlanes = 32;

enum PatternPlane {
  kFivePlane = 0,
  kStraightFourPlane = 1,
  kFourPlane = 2,
  kOpenThreePlane = 3,
  kThreePlane = 4,
  kOpenTwoPlane = 5,
  kTwoPlane = 6,
  kOnePlane = 7,
  kFourFourPlane = 8,
  kFourOpenThreePlane = 9,
  kOpenTwoOpenTwoPlane = 17,
};

using PlaneMasks = std::array<uint64_t, kCellCount>;

// Fills `masks` (indexed by cell_index) for the position; off-board entries are 0.
void pattern_plane_masks(const Board& board, PlaneMasks& masks);

}  // namespace tovan::eval
