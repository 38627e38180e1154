// The position record: stones, side to move, Zobrist hash, result of a finished game and
// the data derived from the stones that the rest of the engine reads without recomputing
// (candidate moves, line words, pattern codes, Renju flags and forbidden points).
//
// A board belongs to one thread at a time and has no lock. play and undo trust their
// caller: the cell must be on the board and empty (play) or occupied (undo); the
// protocol layer checks a manager's moves before they get here.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "board/geometry.h"
#include "board/move.h"
#include "board/rule.h"

// The settings a board is built from: rule, size and the two candidate ranges.
struct BoardConfig {
  Rule rule;
  int32_t height;
  int32_t width;
  int32_t area_candidate_range;
  int32_t line_candidate_range;
};

using CellArray = std::array<int8_t, kCellCount>;

class Board {
 public:
  // A complete position from its cells; used with all cells EMPTY and side 0 for a new game.
  Board(const BoardConfig& config, int32_t move_count, const CellArray& cells, int32_t side_to_move);

  // Places a stone of the side to move and updates everything derived from the stones,
  // including the end of the game. With recompute false, forbidden points and candidates
  // stay cleared (for tentative moves that are taken back at once).
  void play(Move move, bool recompute = true);
  // Removes the stone on the move's cell and gives the turn to its owner. With recompute
  // false, forbidden points and candidates stay cleared until the caller restores them.
  void undo(Move move, bool recompute);

  bool on_board(int x, int y) const { return x >= 0 && x < config.width && y >= 0 && y < config.height; }
  int8_t cell(int x, int y) const { return cells[cell_index(x, y)]; }

  BoardConfig config;
  int32_t move_count;
  CellArray cells;
  int32_t side_to_move;  // 0 Black, 1 White
  uint64_t hash;
  std::vector<Move> candidates;  // row-major; the action set of the side to move
  bool game_over;
  int32_t winner;                      // 0 Black, 1 White, 2 draw; valid while game_over
  std::array<float, 2> result_values;  // by player: +1 winner, -1 loser, 0 both for a draw
  uint32_t stone_count;
  uint32_t empty_count;
  std::array<uint8_t, kCellCount> near_count;

  // Line words: 2 bits per position, position p at bits 2p + 10; off-board positions read 3.
  std::array<uint64_t, kMaxSide> row_lines;           // index y
  std::array<uint64_t, kMaxSide> col_lines;           // index x
  std::array<uint64_t, 2 * kMaxSide - 1> sum_lines;   // index x + y
  std::array<uint64_t, 2 * kMaxSide - 1> diff_lines;  // index y - x + 19

  // Per-cell pattern codes, four 16-bit lanes (one per line direction); 0 on occupied cells.
  std::array<uint64_t, kCellCount> black_codes;
  std::array<uint64_t, kCellCount> white_codes;
  std::array<std::array<uint8_t, 5>, kCellCount> renju_flags;
  std::array<uint8_t, kCellCount> forbidden;  // 1 where Black may not play under Renju
  int32_t verify_limit;                       // -1 unless a forbidden-point verification runs

 private:
  void declare_win(int32_t player);
  void declare_draw();
  void end_if_no_candidates();
};
