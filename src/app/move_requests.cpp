#include "app/move_requests.h"

#include <optional>
#include <string>
#include <vector>

#include "app/clock.h"
#include "app/engine.h"
#include "app/output.h"

namespace {

std::string wire_text(int32_t x, int32_t y) { return std::to_string(x) + "," + std::to_string(y); }

Move to_move(int32_t x, int32_t y) { return Move{static_cast<int8_t>(x), static_cast<int8_t>(y)}; }

// The engine cannot choose a move until the search is built.
[[noreturn]] void no_search_available() {
  throw ProtocolError("no search available: this build of the engine cannot choose a move yet");
}

// Reads "x,y[,who]" words up to "done". A malformed word is reported only after "done"
// has been read, so the rest of the list is not taken for commands.
using Coordinates = std::vector<std::pair<int32_t, int32_t>>;

Coordinates read_move_list(ProtocolInput& input) {
  Coordinates coordinates;
  std::optional<ProtocolError> first_error;
  for (std::string word = input.word(); to_lower_ascii(word) != "done"; word = input.word()) {
    int32_t x = 0;
    int32_t y = 0;
    try {
      parse_move_word(word, x, y);
      coordinates.emplace_back(x, y);
    } catch (const ProtocolError& error) {
      if (!first_error) first_error = error;
    }
  }
  if (first_error) throw *first_error;
  return coordinates;
}

// A new board of the current game holding the listed stones, colours alternating from Black.
std::unique_ptr<Board> board_from_list(const GameState& state, const Coordinates& moves) {
  auto board = new_game_board(state);
  for (const auto& [x, y] : moves) {
    check_playable(*board, x, y);
    board->play(to_move(x, y));
  }
  return board;
}

}  // namespace

void check_playable(const Board& board, int32_t x, int32_t y) {
  if (!board.on_board(x, y)) {
    throw ProtocolError("move " + wire_text(x, y) + " is off the " + std::to_string(board.config.width) + "x" +
                        std::to_string(board.config.height) + " board");
  }
  if (board.cell(x, y) != EMPTY) throw ProtocolError("move " + wire_text(x, y) + " is on an occupied cell");
}

void handle_begin(GameState& state) {
  ensure_engine(state);
  state.move_x = (state.width - 1) / 2;
  state.move_y = (state.height - 1) / 2;
  check_playable(*state.board, state.move_x, state.move_y);
  state.board->play(to_move(state.move_x, state.move_y));
  say(wire_text(state.move_x, state.move_y));
}

void handle_turn(GameState& state, ProtocolInput& input) {
  state.command_start = monotonic_ns();
  const int32_t x = input.integer("x");
  input.separator();
  const int32_t y = input.integer("y");
  ensure_engine(state);
  check_playable(*state.board, x, y);
  state.move_x = x;
  state.move_y = y;
  state.board->play(to_move(x, y));
  no_search_available();
}

void handle_board(GameState& state, ProtocolInput& input) {
  state.command_start = monotonic_ns();
  const Coordinates moves = read_move_list(input);
  ensure_engine(state);
  state.board = board_from_list(state, moves);
  // A finished position gets no reply.
  if (state.board->game_over) return;
  no_search_available();
}

void handle_swap2board(GameState& state, ProtocolInput& input) {
  state.startup_deduction = 0.0f;
  state.command_start = monotonic_ns();
  const Coordinates moves = read_move_list(input);
  ensure_engine(state);
  state.board = board_from_list(state, moves);
  no_search_available();
}
