#include "board/candidates.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>

#include "board/board.h"

namespace tovan {

namespace {

// Adds delta (+1 or -1) to `length` consecutive counts, eight or four at a time: a count
// never leaves 0..255 (the ranges are checked so), so no byte carries into the next.
void add_to_run(uint8_t* counts, int length, int delta) {
  constexpr uint64_t kOnes = 0x0101010101010101ULL;
  for (; length >= 8; counts += 8, length -= 8) {
    uint64_t word;
    std::memcpy(&word, counts, sizeof word);
    word = delta > 0 ? word + kOnes : word - kOnes;
    std::memcpy(counts, &word, sizeof word);
  }
  if (length >= 4) {
    uint32_t word;
    std::memcpy(&word, counts, sizeof word);
    word = delta > 0 ? word + static_cast<uint32_t>(kOnes) : word - static_cast<uint32_t>(kOnes);
    std::memcpy(counts, &word, sizeof word);
    counts += 4;
    length -= 4;
  }
  for (; length > 0; ++counts, --length) *counts = static_cast<uint8_t>(*counts + delta);
}

// Adds delta to the near counts of the shape around (x, y).
void add_to_shape(const Board& board, std::array<uint8_t, kCellCount>& near_count, int y, int x, int delta) {
  const BoardConfig& config = board.config();
  const int area = config.area_candidate_range;
  const int line = config.line_candidate_range;
  const int left = std::max(0, x - area);
  const int run = std::min(config.width - 1, x + area) - left + 1;
  for (int cy = std::max(0, y - area); cy <= std::min(config.height - 1, y + area); ++cy) {
    add_to_run(&near_count[cell_index(left, cy)], run, delta);
  }
  for (int d = 0; d < 8; ++d) {
    for (int k = area + 1; k <= line; ++k) {
      const int cx = x + k * DX[d];
      const int cy = y + k * DY[d];
      if (!board.on_board(cx, cy)) break;
      near_count[cell_index(cx, cy)] += delta;
    }
  }
}

}  // namespace

void add_neighbourhood(Board& board, int y, int x) { add_to_shape(board, board.near_count_, y, x, +1); }

void remove_neighbourhood(Board& board, int y, int x) { add_to_shape(board, board.near_count_, y, x, -1); }

void rebuild_candidates(Board& board) {
  // Every cell is written to the buffer and kept or not by the count, without a branch on
  // the cell: search descents rebuild the list once per new position.
  std::array<Move, kCellCount> found;
  size_t count = 0;
  const bool skip_forbidden = board.config_.rule == Rule::Renju && board.side_to_move_ == 0;
  const bool no_stone = board.stone_count_ == 0;
  for (int y = 0; y < board.config_.height; ++y) {
    for (int x = 0; x < board.config_.width; ++x) {
      const int index = cell_index(x, y);
      const bool near = board.near_count_[index] != 0 || no_stone;
      const bool allowed = !(skip_forbidden && board.forbidden_[index]);
      found[count] = Move{static_cast<int8_t>(x), static_cast<int8_t>(y)};
      count += static_cast<size_t>((board.cells_[index] == EMPTY) & near & allowed);
    }
  }
  board.candidates_.assign(found.begin(), found.begin() + static_cast<std::ptrdiff_t>(count));
}

int64_t max_stones_covering_one_cell(int64_t area_candidate_range, int64_t line_candidate_range) {
  // No line on a 20 x 20 board is longer than 20 cells, so larger ranges reach no further.
  const int64_t area = std::clamp<int64_t>(area_candidate_range, 0, kMaxSide - 1);
  const int64_t line = std::clamp<int64_t>(line_candidate_range, 0, kMaxSide - 1);
  const int64_t square = std::min<int64_t>((2 * area + 1) * (2 * area + 1), kCellCount);
  const int64_t rays = 8 * std::max<int64_t>(0, line - area);
  return square + rays;
}

}  // namespace tovan
