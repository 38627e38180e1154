// Positions for tests, drawn as text, one string per row with the top row (y = 0) first:
//
//   const Board board = board_from_rows(config, {"..X",
//                                                ".OX#"}, 0);
//
// 'X' Black, 'O' White, '#' blocked, '.' empty. Rows may be shorter than the board and
// there may be fewer rows than it has; the cells not drawn are empty. Any other character,
// or a drawing that does not fit, throws std::invalid_argument.
//
//   board_config(rule, width, height)           a board of the rule and size with the shipped
//                                               candidate ranges (2 and 4)
//   cells_from_rows(rows)                       the cells, on the 20 x 20 cell array
//   board_from_rows(config, rows, side_to_move) a board of them, side 0 Black or 1 White
//                                               to move, one move played per stone
//   take_mark(rows, mark)                       the first cell drawn as `mark` (a move under
//                                               test, say), made '.' in rows; none if none
//   random_position(random, config, margin,     a random middle game: min..max stones dropped
//                   min, max)                   alternately from Black into the board less
//                                               the margin, the side with fewer stones (Black
//                                               on a tie) to move; drawn again while it holds
//                                               a five
#pragma once

#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "board/board.h"

namespace tovan {

inline BoardConfig board_config(Rule rule, int32_t width = 15, int32_t height = 15) {
  return {.rule = rule, .height = height, .width = width, .area_candidate_range = 2, .line_candidate_range = 4};
}

inline CellArray cells_from_rows(const std::vector<std::string>& rows) {
  if (rows.size() > kMaxSide) throw std::invalid_argument("drawn position: more than 20 rows");
  CellArray cells{};
  for (size_t y = 0; y < rows.size(); ++y) {
    if (rows[y].size() > kMaxSide) throw std::invalid_argument("drawn position: row longer than 20: " + rows[y]);
    for (size_t x = 0; x < rows[y].size(); ++x) {
      const size_t state = std::string_view(".XO#").find(rows[y][x]);
      if (state == std::string_view::npos) throw std::invalid_argument("drawn position: bad cell in " + rows[y]);
      cells[cell_index(static_cast<int>(x), static_cast<int>(y))] = static_cast<int8_t>(state);
    }
  }
  return cells;
}

inline Board board_from_rows(const BoardConfig& config, const std::vector<std::string>& rows, int side_to_move) {
  bool fits = rows.size() <= static_cast<size_t>(config.height);
  for (const std::string& row : rows) fits = fits && row.size() <= static_cast<size_t>(config.width);
  if (!fits) throw std::invalid_argument("drawn position: larger than the board");
  const CellArray cells = cells_from_rows(rows);
  int32_t stones = 0;
  for (const int8_t state : cells) stones += state == BLACK || state == WHITE;
  return Board(config, stones, cells, side_to_move);
}

inline std::optional<Move> take_mark(std::vector<std::string>& rows, char mark) {
  for (size_t y = 0; y < rows.size(); ++y) {
    if (const size_t x = rows[y].find(mark); x != std::string::npos) {
      rows[y][x] = '.';
      return Move{static_cast<int8_t>(x), static_cast<int8_t>(y)};
    }
  }
  return std::nullopt;
}

inline Board random_position(std::mt19937& random, const BoardConfig& config, int margin, int min_stones,
                             int max_stones) {
  std::uniform_int_distribution<int> x_of(margin, config.width - 1 - margin);
  std::uniform_int_distribution<int> y_of(margin, config.height - 1 - margin);
  std::uniform_int_distribution<int> stones(min_stones, max_stones);
  while (true) {
    CellArray cells{};
    const int count = stones(random);
    for (int placed = 0; placed < count;) {
      const int x = x_of(random);
      const int y = y_of(random);
      if (cells[cell_index(x, y)] != EMPTY) continue;
      cells[cell_index(x, y)] = static_cast<int8_t>(placed % 2 == 0 ? BLACK : WHITE);
      ++placed;
    }
    Board board(config, count, cells, count % 2);
    if (!board.game_over()) return board;
  }
}

}  // namespace tovan
