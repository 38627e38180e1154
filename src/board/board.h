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

namespace tovan {

// A set of cells, bit i of word i / 64 for cell index i.
using CellSet = std::array<uint64_t, (kCellCount + 63) / 64>;

// What a tentative move changes in the codes, Renju flags and five and four sets, kept so
// that its undo puts them back instead of looking the codes up again.
struct CodeRecord {
  struct Cell {
    int32_t index;
    std::array<uint8_t, 5> renju_flags;  // kept under Renju only
    uint64_t black_codes;
    uint64_t white_codes;
  };
  // The empty cells up to five steps from the move along its four lines, then its own cell.
  std::array<Cell, 4 * 10 + 1> cells;
  int32_t count;
  std::array<CellSet, 2> five_cells;
  std::array<CellSet, 2> four_cells;
};

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
  // A move that a search takes back at once with undo_tentative, before anything else is
  // played on the board for good: as play without recomputing, but the near counts behind
  // the candidates are not kept either.
  void play_tentative(Move move);
  void undo_tentative(Move move);
  // The same, the codes before the move kept in `record` and put back from it by the undo,
  // which must come before any other move is taken back.
  void play_tentative(Move move, CodeRecord& record);
  void undo_tentative(Move move, const CodeRecord& record);
  // Gives the turn to the other side without a stone, for searches that ask what the side
  // to move threatens; forbidden points and candidates stay cleared, as after a tentative
  // play. Passing again restores the side to move and the hash.
  void pass_turn();

  bool on_board(int x, int y) const { return x >= 0 && x < config_.width && y >= 0 && y < config_.height; }
  int8_t cell(int x, int y) const { return cells_[cell_index(x, y)]; }

  const BoardConfig& config() const { return config_; }
  int32_t move_count() const { return move_count_; }
  const CellArray& cells() const { return cells_; }
  int32_t side_to_move() const { return side_to_move_; }  // 0 Black, 1 White
  uint64_t hash() const { return hash_; }
  // Row-major; the action set of the side to move.
  const std::vector<Move>& candidates() const { return candidates_; }
  bool game_over() const { return game_over_; }
  int32_t winner() const { return winner_; }  // 0 Black, 1 White, 2 draw; valid while game_over()
  // By player: +1 winner, -1 loser, 0 both for a draw.
  const std::array<float, 2>& result_values() const { return result_values_; }
  uint32_t stone_count() const { return stone_count_; }
  uint32_t empty_count() const { return empty_count_; }
  const std::array<uint8_t, kCellCount>& near_count() const { return near_count_; }

  // Line words: 2 bits per position, position p at bits 2p + 10; off-board positions read 3.
  const std::array<uint64_t, kMaxSide>& row_lines() const { return row_lines_; }            // index y
  const std::array<uint64_t, kMaxSide>& col_lines() const { return col_lines_; }            // index x
  const std::array<uint64_t, 2 * kMaxSide - 1>& sum_lines() const { return sum_lines_; }    // index x + y
  const std::array<uint64_t, 2 * kMaxSide - 1>& diff_lines() const { return diff_lines_; }  // index y - x + 19

  // Per-cell pattern codes, four 16-bit lanes (one per line direction); 0 on occupied cells.
  const std::array<uint64_t, kCellCount>& black_codes() const { return black_codes_; }
  const std::array<uint64_t, kCellCount>& white_codes() const { return white_codes_; }
  const std::array<std::array<uint8_t, 5>, kCellCount>& renju_flags() const { return renju_flags_; }
  // By player (0 Black, 1 White): the empty cells whose code has a five in some lane, and
  // those whose code has a four of any kind (kFour, kStraightFour, kDoubleFour), kept
  // with the codes.
  const CellSet& five_cells(int player) const { return five_cells_[player]; }
  const CellSet& four_cells(int player) const { return four_cells_[player]; }
  // 1 where Black may not play under Renju.
  const std::array<uint8_t, kCellCount>& forbidden() const { return forbidden_; }
  // -1 unless a forbidden-point verification runs.
  int32_t verify_limit() const { return verify_limit_; }

 private:
  // The board modules keep the data derived from the stones up to date.
  friend void toggle_line_words(Board& board, int x, int y, uint64_t bits);
  friend void set_lane(Board& board, bool renju, int index, int shift, uint64_t black_code, uint64_t white_code);
  friend void store_codes(Board& board, bool renju, int index, uint64_t black, uint64_t white);
  friend void mark_threat_cells(Board& board, int index);
  friend void refresh_around(Board& board, int y, int x, CodeRecord* record);
  friend void restore_codes(Board& board, const CodeRecord& record);
  friend void add_neighbourhood(Board& board, int y, int x);
  friend void remove_neighbourhood(Board& board, int y, int x);
  friend void rebuild_candidates(Board& board);
  friend void update_forbidden(Board& board);
  friend bool forbidden_for_black(Board& board, int x, int y);

  // The stone, line words, hash, side to move, pattern codes and the end of the game, with
  // forbidden points and candidates cleared; not the near counts.
  // With a record, the codes before the stone are kept in it (place_stone) or put back
  // from it (take_stone).
  void place_stone(Move move, CodeRecord* record = nullptr);
  void take_stone(Move move, const CodeRecord* record = nullptr);
  void declare_win(int32_t player);
  void declare_draw();
  void end_if_no_candidates();
  // forbidden.cpp: whether Black may not play on (x, y), and the verification of a double three.
  bool is_forbidden(int x, int y);
  bool makes_real_double_three(int x, int y);

  BoardConfig config_;
  int32_t move_count_;
  CellArray cells_;
  int32_t side_to_move_;
  uint64_t hash_;
  std::vector<Move> candidates_;
  bool game_over_;
  int32_t winner_;
  std::array<float, 2> result_values_;
  uint32_t stone_count_;
  uint32_t empty_count_;
  std::array<uint8_t, kCellCount> near_count_;
  std::array<uint64_t, kMaxSide> row_lines_;
  std::array<uint64_t, kMaxSide> col_lines_;
  std::array<uint64_t, 2 * kMaxSide - 1> sum_lines_;
  std::array<uint64_t, 2 * kMaxSide - 1> diff_lines_;
  std::array<uint64_t, kCellCount> black_codes_;
  std::array<uint64_t, kCellCount> white_codes_;
  std::array<std::array<uint8_t, 5>, kCellCount> renju_flags_;
  std::array<CellSet, 2> five_cells_;
  std::array<CellSet, 2> four_cells_;
  std::array<uint8_t, kCellCount> forbidden_;
  int32_t verify_limit_;
};

}  // namespace tovan
