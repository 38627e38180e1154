// Board geometry shared by every board routine: cell states, the fixed 20-column
// cell indexing and the eight direction steps.
#pragma once

#include <array>
#include <cstdint>

namespace tovan {

// Smallest and largest board side; every per-cell array has kMaxSide * kMaxSide entries.
inline constexpr int kMinSide = 5;
inline constexpr int kMaxSide = 20;
inline constexpr int kCellCount = kMaxSide * kMaxSide;

// Cell states. BLOCKED also stands for every position off the board.
inline constexpr int8_t EMPTY = 0;
inline constexpr int8_t BLACK = 1;
inline constexpr int8_t WHITE = 2;
inline constexpr int8_t BLOCKED = 3;

// The row stride is always 20, whatever the board width.
constexpr int cell_index(int x, int y) { return y * kMaxSide + x; }

// Direction d and d + 4 are opposite. Lines 0..3 are the row, the line on which
// y - x is constant, the column and the line on which x + y is constant.
inline constexpr std::array<int, 8> DX = {-1, -1, 0, 1, 1, 1, 0, -1};
inline constexpr std::array<int, 8> DY = {0, -1, -1, -1, 0, 1, 1, 1};

}  // namespace tovan
