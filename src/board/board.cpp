#include "board/board.h"

#include <cassert>

#include "board/candidates.h"
#include "board/forbidden.h"
#include "board/patterns.h"
#include "board/win.h"
#include "board/zobrist.h"

namespace {

// Fewer empty cells than this with no candidate left is a draw; more is a loss for the
// side that cannot move.
constexpr uint32_t kNoCandidateDrawLimit = 25;

}  // namespace

Board::Board(const BoardConfig& config, int32_t move_count, const CellArray& cells, int32_t side_to_move)
    : config(config),
      move_count(move_count),
      cells(cells),
      side_to_move(side_to_move),
      hash(0),
      game_over(false),
      winner(0),
      result_values{},
      stone_count(0),
      empty_count(0),
      near_count{},
      black_codes{},
      white_codes{},
      renju_flags{},
      forbidden{},
      verify_limit(-1) {
  // Every position reads BLOCKED until the on-board cells write their state over it.
  row_lines.fill(~uint64_t{0});
  col_lines.fill(~uint64_t{0});
  sum_lines.fill(~uint64_t{0});
  diff_lines.fill(~uint64_t{0});
  for (int y = 0; y < config.height; ++y) {
    for (int x = 0; x < config.width; ++x) {
      toggle_line_words(*this, x, y, static_cast<uint64_t>(cell(x, y) ^ BLOCKED));
    }
  }

  const ZobristKeys& keys = zobrist_keys();
  hash = static_cast<uint64_t>(side_to_move) ^ keys.rule_keys[static_cast<int>(config.rule)] ^
         keys.size_keys[config.height];
  if (config.width != config.height) hash ^= keys.size_keys[config.width];

  for (int y = 0; y < config.height; ++y) {
    for (int x = 0; x < config.width; ++x) {
      const int8_t state = cell(x, y);
      if (state == EMPTY) {
        ++empty_count;
        for (int d = 0; d < 4; ++d) refresh_cell_lane(*this, y, x, d);
        continue;
      }
      hash ^= keys.cell_keys[cell_index(x, y)][state - 1];
      // A later winning stone in row-major order overrides an earlier one.
      if (is_winning_stone(config, cells, y, x)) declare_win(state - 1);
      if (state == BLOCKED) continue;
      ++stone_count;
      add_neighbourhood(*this, y, x);
    }
  }

  if (game_over) return;
  if (empty_count == 0) {
    declare_draw();
    return;
  }
  if (config.rule == Rule::Renju) update_forbidden(*this);
  rebuild_candidates(*this);
  end_if_no_candidates();
}

void Board::play(Move move, bool recompute) {
  const int x = move.x;
  const int y = move.y;
  const int index = cell_index(x, y);
  assert(!game_over && on_board(x, y) && cells[index] == EMPTY);
  const int8_t colour = static_cast<int8_t>(side_to_move + 1);

  ++move_count;
  cells[index] = colour;
  toggle_line_words(*this, x, y, static_cast<uint64_t>(colour));
  hash ^= zobrist_keys().cell_keys[index][side_to_move] ^ 1;
  side_to_move ^= 1;
  refresh_around(*this, y, x);
  add_neighbourhood(*this, y, x);
  if (config.rule == Rule::Renju) forbidden.fill(0);
  candidates.clear();
  ++stone_count;
  --empty_count;

  if (is_winning_stone(config, cells, y, x)) {
    declare_win(colour - 1);
    return;
  }
  if (empty_count == 0) {
    declare_draw();
    return;
  }
  if (!recompute) return;
  if (config.rule == Rule::Renju) update_forbidden(*this);
  rebuild_candidates(*this);
  end_if_no_candidates();
}

void Board::undo(Move move, bool recompute) {
  const int x = move.x;
  const int y = move.y;
  const int index = cell_index(x, y);
  const int8_t colour = cells[index];

  --move_count;
  game_over = false;
  toggle_line_words(*this, x, y, static_cast<uint64_t>(colour));
  cells[index] = EMPTY;
  hash ^= static_cast<uint64_t>(side_to_move) ^ zobrist_keys().cell_keys[index][colour - 1] ^
          static_cast<uint64_t>(colour - 1);
  side_to_move = colour - 1;
  refresh_around(*this, y, x);
  remove_neighbourhood(*this, y, x);
  if (config.rule == Rule::Renju) forbidden.fill(0);
  candidates.clear();
  --stone_count;
  ++empty_count;

  if (!recompute) return;
  if (config.rule == Rule::Renju) update_forbidden(*this);
  rebuild_candidates(*this);
}

void Board::declare_win(int32_t player) {
  game_over = true;
  winner = player;
  result_values[player] = 1.0f;
  result_values[player ^ 1] = -1.0f;
}

void Board::declare_draw() {
  game_over = true;
  winner = 2;
  result_values = {0.0f, 0.0f};
}

// A side with no candidate cannot move: the game ends, drawn when the board is nearly
// full, otherwise won by the player who has just moved.
void Board::end_if_no_candidates() {
  if (!candidates.empty()) return;
  if (empty_count <= kNoCandidateDrawLimit) {
    declare_draw();
  } else {
    declare_win(side_to_move ^ 1);
  }
}
