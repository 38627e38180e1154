#include "board/board.h"

#include <cassert>

#include "board/candidates.h"
#include "board/forbidden.h"
#include "board/pattern_codes.h"
#include "board/patterns.h"
#include "board/win.h"
#include "board/zobrist.h"

namespace tovan {

namespace {

// Fewer empty cells than this with no candidate left is a draw; more is a loss for the
// side that cannot move.
constexpr uint32_t kNoCandidateDrawLimit = 25;

}  // namespace

Board::Board(const BoardConfig& config, int32_t move_count, const CellArray& cells, int32_t side_to_move)
    : config_(config),
      move_count_(move_count),
      cells_(cells),
      side_to_move_(side_to_move),
      hash_(0),
      game_over_(false),
      winner_(0),
      result_values_{},
      stone_count_(0),
      empty_count_(0),
      near_count_{},
      black_codes_{},
      white_codes_{},
      renju_flags_{},
      five_cells_{},
      four_cells_{},
      forbidden_{},
      verify_limit_(-1) {
  // Every position reads BLOCKED until the on-board cells write their state over it.
  row_lines_.fill(~uint64_t{0});
  col_lines_.fill(~uint64_t{0});
  sum_lines_.fill(~uint64_t{0});
  diff_lines_.fill(~uint64_t{0});
  for (int y = 0; y < config_.height; ++y) {
    for (int x = 0; x < config_.width; ++x) {
      toggle_line_words(*this, x, y, static_cast<uint64_t>(cell(x, y) ^ BLOCKED));
    }
  }

  const ZobristKeys& keys = zobrist_keys();
  hash_ = static_cast<uint64_t>(side_to_move_) ^ keys.rule_keys[static_cast<int>(config_.rule)] ^
          keys.size_keys[config_.height];
  if (config_.width != config_.height) hash_ ^= keys.size_keys[config_.width];

  for (int y = 0; y < config_.height; ++y) {
    for (int x = 0; x < config_.width; ++x) {
      const int8_t state = cell(x, y);
      if (state == EMPTY) {
        ++empty_count_;
        for (int d = 0; d < 4; ++d) refresh_cell_lane(*this, y, x, d);
        continue;
      }
      hash_ ^= keys.cell_keys[cell_index(x, y)][state - 1];
      // A later winning stone in row-major order overrides an earlier one.
      if (is_winning_stone(config_, cells_, y, x)) declare_win(state - 1);
      if (state == BLOCKED) continue;
      ++stone_count_;
      add_neighbourhood(*this, y, x);
    }
  }

  if (game_over_) return;
  if (empty_count_ == 0) {
    declare_draw();
    return;
  }
  if (config_.rule == Rule::Renju) update_forbidden(*this);
  rebuild_candidates(*this);
  end_if_no_candidates();
}

void Board::play(Move move, bool recompute) {
  add_neighbourhood(*this, move.y, move.x);
  place_stone(move);
  if (game_over_ || !recompute) return;
  if (config_.rule == Rule::Renju) update_forbidden(*this);
  rebuild_candidates(*this);
  end_if_no_candidates();
}

void Board::undo(Move move, bool recompute) {
  remove_neighbourhood(*this, move.y, move.x);
  take_stone(move);
  if (!recompute) return;
  if (config_.rule == Rule::Renju) update_forbidden(*this);
  rebuild_candidates(*this);
}

void Board::play_tentative(Move move) { place_stone(move); }

void Board::undo_tentative(Move move) { take_stone(move); }

void Board::play_tentative(Move move, CodeRecord& record) { place_stone(move, &record); }

void Board::undo_tentative(Move move, const CodeRecord& record) { take_stone(move, &record); }

void Board::place_stone(Move move, CodeRecord* record) {
  const int x = move.x;
  const int y = move.y;
  const int index = cell_index(x, y);
  assert(!game_over_ && on_board(x, y) && cells_[index] == EMPTY);
  const int8_t colour = static_cast<int8_t>(side_to_move_ + 1);
  // The mover's code on the cell already says whether the stone completes a winning line.
  const bool wins = ((side_to_move_ == 0 ? black_codes_ : white_codes_)[index] & in_every_lane(kFive)) != 0;

  ++move_count_;
  cells_[index] = colour;
  toggle_line_words(*this, x, y, static_cast<uint64_t>(colour));
  hash_ ^= zobrist_keys().cell_keys[index][side_to_move_] ^ 1;
  side_to_move_ ^= 1;
  refresh_around(*this, y, x, record);
  if (config_.rule == Rule::Renju) forbidden_.fill(0);
  candidates_.clear();
  ++stone_count_;
  --empty_count_;

  assert(wins == is_winning_stone(config_, cells_, y, x));
  if (wins) {
    declare_win(colour - 1);
  } else if (empty_count_ == 0) {
    declare_draw();
  }
}

void Board::take_stone(Move move, const CodeRecord* record) {
  const int x = move.x;
  const int y = move.y;
  const int index = cell_index(x, y);
  const int8_t colour = cells_[index];

  --move_count_;
  game_over_ = false;
  toggle_line_words(*this, x, y, static_cast<uint64_t>(colour));
  cells_[index] = EMPTY;
  hash_ ^= static_cast<uint64_t>(side_to_move_) ^ zobrist_keys().cell_keys[index][colour - 1] ^
           static_cast<uint64_t>(colour - 1);
  side_to_move_ = colour - 1;
  if (record != nullptr) {
    restore_codes(*this, *record);
#ifndef NDEBUG
    // Looked up again, the codes must come out as they were put back.
    CodeRecord restored;
    restored.count = 0;
    for (int i = 0; i < record->count; ++i) {
      const int kept = record->cells[i].index;
      restored.cells[restored.count++] = {kept, renju_flags_[kept], black_codes_[kept], white_codes_[kept]};
    }
    restored.five_cells = five_cells_;
    restored.four_cells = four_cells_;
    refresh_around(*this, y, x, nullptr);
    for (int i = 0; i < restored.count; ++i) {
      const CodeRecord::Cell& cell = restored.cells[i];
      assert(black_codes_[cell.index] == cell.black_codes && white_codes_[cell.index] == cell.white_codes &&
             renju_flags_[cell.index] == cell.renju_flags);
    }
    assert(five_cells_ == restored.five_cells && four_cells_ == restored.four_cells);
#endif
  } else {
    refresh_around(*this, y, x, nullptr);
  }
  if (config_.rule == Rule::Renju) forbidden_.fill(0);
  candidates_.clear();
  --stone_count_;
  ++empty_count_;
}

void Board::pass_turn() {
  assert(!game_over_);
  side_to_move_ ^= 1;
  hash_ ^= 1;
  if (config_.rule == Rule::Renju) forbidden_.fill(0);
  candidates_.clear();
}

void Board::declare_win(int32_t player) {
  game_over_ = true;
  winner_ = player;
  result_values_[player] = 1.0f;
  result_values_[player ^ 1] = -1.0f;
}

void Board::declare_draw() {
  game_over_ = true;
  winner_ = 2;
  result_values_ = {0.0f, 0.0f};
}

// A side with no candidate cannot move: the game ends, drawn when the board is nearly
// full, otherwise won by the player who has just moved.
void Board::end_if_no_candidates() {
  if (!candidates_.empty()) return;
  if (empty_count_ <= kNoCandidateDrawLimit) {
    declare_draw();
  } else {
    declare_win(side_to_move_ ^ 1);
  }
}

}  // namespace tovan
