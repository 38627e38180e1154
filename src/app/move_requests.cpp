#include "app/move_requests.h"

#include <algorithm>
#include <array>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/clock.h"
#include "app/config.h"
#include "app/engine.h"
#include "app/output.h"
#include "app/search_report.h"
#include "search/decision.h"
#include "search/opening.h"

namespace {

std::string wire_text(int32_t x, int32_t y) { return std::to_string(x) + "," + std::to_string(y); }

Move to_move(int32_t x, int32_t y) { return Move{static_cast<int8_t>(x), static_cast<int8_t>(y)}; }

decision::DecisionSettings read_decision_settings() {
  return {config_float("search.root_soft_action_prior_temperature"),
          config_float("search.search_time_reduction"),
          config_float("search.fast_search_draw_rate_threshold"),
          config_float("search.fast_search_win_rate_threshold"),
          config_float("search.fast_search_best_action_visits_proportion_threshold"),
          static_cast<float>(config_int("search.fast_search_visits_threshold")),
          static_cast<float>(config_int("search.visits_limit")),
          config_float("search.move_temperature")};
}

// Searches the game board's position; the move is left in move_x and move_y, the win rate
// (when a search ran) in root_win_rate.
void decide(GameState& state, bool allow_shortcut) {
  if (state.board->game_over) throw ProtocolError("the game is already over");
  const ReportContext report{*state.search, *state.board, state.command_start};
  const decision::DecisionContext context{*state.search,
                                          state.node_config,
                                          state.time,
                                          state.command_start,
                                          state.startup_deduction,
                                          read_decision_settings,
                                          [&report] { print_search_report(report); }};
  const decision::Decision decision = decision::decide(context, *state.board, allow_shortcut);
  state.move_x = decision.move.x;
  state.move_y = decision.move.y;
  if (decision.root_win_rate) state.root_win_rate = *decision.root_win_rate;
}

decision::OpeningSettings read_opening_settings() {
  return {config_int("opening.margin_range"),
          config_int("opening.candidate_range"),
          static_cast<float>(config_int("opening.visits_limit")),
          config_float("opening.visits_threshold"),
          config_float("opening.action_value_threshold"),
          config_float("opening.draw_rate_threshold")};
}

// Three stones for a swap2 opening, played on the (empty) game board, within the turn's time.
std::array<Move, 3> propose_opening(GameState& state) {
  const ReportContext report{*state.search, *state.board, state.command_start};
  const double seconds_allowed =
      std::min(state.time.timeout_turn, state.time.time_left) / 1000.0 - config_float("search.search_time_reduction");
  const int64_t command_start = state.command_start;
  const decision::OpeningContext context{
      *state.search,
      state.node_config,
      *state.board,
      seconds_allowed,
      [command_start] { return static_cast<double>(monotonic_ns() - command_start) / 1e9; },
      read_opening_settings,
      [&report] { print_search_report(report); },
      [](const std::string& line) { say(line); }};
  try {
    return decision::generate_opening(context);
  } catch (const std::invalid_argument& error) {
    throw ProtocolError(error.what());
  }
}

// Plays the engine's move on the game board and replies it.
void play_and_reply(GameState& state) {
  state.board->play(to_move(state.move_x, state.move_y));
  say(wire_text(state.move_x, state.move_y));
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
  play_and_reply(state);
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
  decide(state, true);
  play_and_reply(state);
}

void handle_board(GameState& state, ProtocolInput& input) {
  state.command_start = monotonic_ns();
  const Coordinates moves = read_move_list(input);
  ensure_engine(state);
  state.board = board_from_list(state, moves);
  // A finished position gets no reply.
  if (state.board->game_over) return;
  decide(state, true);
  play_and_reply(state);
}

void handle_swap2board(GameState& state, ProtocolInput& input) {
  state.startup_deduction = 0.0f;
  state.command_start = monotonic_ns();
  const Coordinates moves = read_move_list(input);
  ensure_engine(state);
  state.board = board_from_list(state, moves);
  if (state.board->move_count == 0) {
    const std::array<Move, 3> opening = propose_opening(state);
    state.move_x = opening[2].x;
    state.move_y = opening[2].y;
    say(wire_text(opening[0].x, opening[0].y) + " " + wire_text(opening[1].x, opening[1].y) + " " +
        wire_text(opening[2].x, opening[2].y));
    return;
  }
  // Only the win rate matters here: take the move when it favours the side to move.
  decide(state, false);
  if (state.root_win_rate >= 0.5f) {
    play_and_reply(state);
  } else {
    say("SWAP");
  }
}
