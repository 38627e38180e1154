#include "protocol/move_requests.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/output.h"
#include "protocol/board_list.h"
#include "protocol/game_engine.h"
#include "protocol/search_report.h"
#include "search/clock.h"
#include "search/decision.h"
#include "search/opening.h"

namespace tovan::protocol {

namespace {

Move to_move(int32_t x, int32_t y) { return Move{static_cast<int8_t>(x), static_cast<int8_t>(y)}; }

// Searches `board` (a game in progress) and returns the engine's choice; the board is
// left as it was.
search::Decision decide(GameState& state, Board& board, bool allow_shortcut) {
  const ReportContext report{.search = *state.engine.search,
                             .board = board,
                             .command_start = state.command_start,
                             .with_variation = state.settings.print_move};
  const search::DecisionContext context{.search = *state.engine.search,
                                        .constants = state.settings.node_config,
                                        .settings = state.settings.decision,
                                        .time = state.time,
                                        .command_start = state.command_start,
                                        .startup_deduction = state.startup_deduction,
                                        .report = [&report] { print_search_report(report); },
                                        .say = [](const std::string& line) { app::say(line); }};
  return search::decide(context, board, allow_shortcut);
}

// Three stones for a swap2 opening, played on the (empty) board, within the turn's time.
std::array<Move, 3> propose_opening(GameState& state, Board& board) {
  const ReportContext report{.search = *state.engine.search,
                             .board = board,
                             .command_start = state.command_start,
                             .with_variation = state.settings.print_move};
  const double seconds_allowed =
      std::min(state.time.timeout_turn, state.time.time_left) / 1000.0 - state.settings.decision.search_time_reduction;
  const search::OpeningContext context{.search = *state.engine.search,
                                       .constants = state.settings.node_config,
                                       .board = board,
                                       .command_start = state.command_start,
                                       .seconds_allowed = seconds_allowed,
                                       .settings = state.settings.opening,
                                       .report = [&report] { print_search_report(report); },
                                       .say = [](const std::string& line) { app::say(line); }};
  try {
    return search::generate_opening(context);
  } catch (const std::invalid_argument& error) {
    throw ProtocolError(error.what());
  }
}

// Plays the engine's move on the game board and replies it.
void play_and_reply(GameState& state, Move move) {
  state.board->play(move);
  state.moves.push_back(move);
  app::say(app::move_reply(move.x, move.y));
}

// Reads move words up to "done". A malformed word is reported only after "done" has been
// read, so the rest of the list is not taken for commands.
std::vector<MoveWord> read_move_list(ProtocolInput& input) {
  std::vector<MoveWord> words;
  std::optional<ProtocolError> first_error;
  for (std::string word = input.word(); to_lower_ascii(word) != "done"; word = input.word()) {
    try {
      words.push_back(parse_move_word(word));
    } catch (const ProtocolError& error) {
      if (!first_error) first_error = error;
    }
  }
  if (first_error) throw *first_error;
  return words;
}

// Under Renju, Black may have no legal move while cells stay empty, every one forbidden:
// the engine holds that game drawn, but a manager that does not judge forbidden points
// still asks for a move, and an error would forfeit the game. The first empty cell is the
// reply (a manager that judges them counts it lost, as it would the error); the game board
// stays finished. False for a game won or full.
bool answer_without_legal_move(const Board& board) {
  if (!board.game_over() || board.winner() != 2 || board.empty_count() == 0) return false;
  for (int32_t y = 0; y < board.config().height; ++y) {
    for (int32_t x = 0; x < board.config().width; ++x) {
      if (board.cell(x, y) != EMPTY) continue;
      app::say("DEBUG no legal move: every empty cell is forbidden");
      app::say(app::move_reply(x, y));
      return true;
    }
  }
  return false;
}

void install(GameState& state, ListedPosition& listed) {
  state.board = std::move(listed.board);
  state.moves = std::move(listed.moves);
}

}  // namespace

void check_playable(const Board& board, int32_t x, int32_t y) {
  if (board.game_over()) throw ProtocolError("the game is already over");
  if (!board.on_board(x, y)) {
    throw ProtocolError("move " + app::move_reply(x, y) + " is off the " + std::to_string(board.config().width) + "x" +
                        std::to_string(board.config().height) + " board");
  }
  if (board.cell(x, y) != EMPTY) throw ProtocolError("move " + app::move_reply(x, y) + " is on an occupied cell");
}

void handle_begin(GameState& state) {
  ensure_engine(state);
  if (state.board->game_over() || state.board->stone_count() != 0) {
    throw ProtocolError("the engine opens only an empty board");
  }
  play_and_reply(state, to_move((state.width - 1) / 2, (state.height - 1) / 2));
}

void handle_turn(GameState& state, ProtocolInput& input) {
  state.command_start = search::monotonic_ns();
  const int32_t x = input.integer("x");
  input.separator();
  const int32_t y = input.integer("y");
  ensure_engine(state);
  check_playable(*state.board, x, y);
  const Move move = to_move(x, y);
  state.board->play(move);
  state.moves.push_back(move);
  // The opponent's move may end the game; then there is nothing left to answer.
  if (state.board->game_over()) {
    if (answer_without_legal_move(*state.board)) return;
    throw ProtocolError("the game is over after " + app::move_reply(x, y));
  }
  try {
    play_and_reply(state, decide(state, *state.board, true).move);
  } catch (...) {
    // A failed search refuses the request: the game goes back to before the move.
    state.board->undo(move, true);
    state.moves.pop_back();
    throw;
  }
}

void handle_board(GameState& state, ProtocolInput& input) {
  state.command_start = search::monotonic_ns();
  const std::vector<MoveWord> words = read_move_list(input);
  ensure_engine(state);
  ListedPosition listed = place_listed_stones(game_board_config(state), words);
  // A finished position gets no reply, unless it is finished for want of a legal move.
  if (listed.board->game_over()) {
    install(state, listed);
    answer_without_legal_move(*state.board);
    return;
  }
  const Move move = decide(state, *listed.board, true).move;
  install(state, listed);
  play_and_reply(state, move);
}

void handle_swap2board(GameState& state, ProtocolInput& input) {
  state.startup_deduction = 0.0f;
  state.command_start = search::monotonic_ns();
  const std::vector<MoveWord> words = read_move_list(input);
  ensure_engine(state);
  ListedPosition listed = place_listed_stones(game_board_config(state), words);
  if (listed.board->game_over()) throw ProtocolError("the game is already over");
  if (words.empty()) {
    const std::array<Move, 3> opening = propose_opening(state, *listed.board);
    listed.moves.assign(opening.begin(), opening.end());
    install(state, listed);
    app::say(app::move_reply(opening[0].x, opening[0].y) + " " + app::move_reply(opening[1].x, opening[1].y) + " " +
             app::move_reply(opening[2].x, opening[2].y));
    return;
  }
  // Only the win rate matters here: take the move when it favours the side to move (a
  // win rate that is not a number counts as below one half).
  const search::Decision decision = decide(state, *listed.board, false);
  install(state, listed);
  if (decision.root_win_rate.value_or(0.0f) >= 0.5f) {
    play_and_reply(state, decision.move);
  } else {
    app::say("SWAP");
  }
}

}  // namespace tovan::protocol
