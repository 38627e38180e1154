#include "protocol/protocol.h"

#include <iostream>

#include "app/output.h"
#include "config/config_file.h"
#include "protocol/analysis.h"
#include "protocol/game_engine.h"
#include "protocol/game_state.h"
#include "protocol/move_requests.h"
#include "protocol/protocol_input.h"

namespace tovan::protocol {

namespace {

constexpr float kStartupDeduction = 0.3f;  // seconds, for the engine build of a new game

bool valid_side(int32_t side) { return side >= kMinSide && side <= kMaxSide; }

void new_game(GameState& state) {
  state.engine_dirty = true;
  state.startup_deduction = kStartupDeduction;
  app::say("OK");
}

void set_board_size(GameState& state, int32_t width, int32_t height) {
  state.width = width;
  state.height = height;
  app::say("DEBUG board size: (" + std::to_string(height) + ", " + std::to_string(width) + ")");
  new_game(state);
}

void handle_start(GameState& state, ProtocolInput& input) {
  const int32_t size = input.integer("board size");
  if (!valid_side(size)) return app::say("ERROR only support board size 5-20");
  set_board_size(state, size, size);
}

void handle_rectstart(GameState& state, ProtocolInput& input) {
  const int32_t width = input.integer("width");
  input.separator();
  const int32_t height = input.integer("height");
  if (!valid_side(width) || !valid_side(height)) return app::say("ERROR only support board height:5-20, width:5-20");
  set_board_size(state, width, height);
}

// Protocol rule bits: 8 StandardCaro, else 1 Standard, else 4 Renju, else Freestyle;
// the bit of value 2 plays no part.
Rule rule_from_bits(int32_t bits) {
  if (bits & 8) return Rule::StandardCaro;
  if (bits & 1) return Rule::Standard;
  if (bits & 4) return Rule::Renju;
  return Rule::Freestyle;
}

void handle_info(GameState& state, ProtocolInput& input) {
  // Info keys are compared as sent, without lower-casing.
  const std::string key = input.word();
  if (key == "timeout_turn") {
    state.time.timeout_turn = input.integer(key);
  } else if (key == "timeout_match") {
    state.time.timeout_match = input.integer(key);
  } else if (key == "max_memory") {
    // Bytes; managers may send values past 32 bits. The next move request applies it.
    const int64_t bytes = input.long_integer(key);
    if (bytes < 0) throw ProtocolError("max_memory must be 0 (no limit) or more, found " + std::to_string(bytes));
    state.time.max_memory = bytes;
  } else if (key == "time_left") {
    state.time.time_left = input.integer(key);
  } else if (key == "rule") {
    state.rule = rule_from_bits(input.integer(key));
    app::say("DEBUG rule: " + std::string(rule_name(state.rule)));
  } else {
    input.skip_line();
  }
}

// Only the game's last stone can be taken back: removing any other would leave a position
// no game reaches.
void handle_takeback(GameState& state, ProtocolInput& input) {
  const int32_t x = input.integer("x");
  input.separator();
  const int32_t y = input.integer("y");
  if (!state.board && !state.engine_dirty) {
    throw ProtocolError("no game started: send start, rectstart or restart first");
  }
  // A game just started has no stone yet: its board is built by the first move request.
  const bool is_last = !state.engine_dirty && !state.moves.empty() && state.moves.back().x == x &&
                       state.moves.back().y == y && state.board->cell(x, y) == (state.board->side_to_move() ^ 1) + 1;
  if (!is_last) throw ProtocolError("only the last stone can be taken back, not " + app::move_reply(x, y));
  // Built again from its stones rather than undone, so that the position is judged anew:
  // taking back a stone that is not part of a five leaves the game won.
  const Board& board = *state.board;
  CellArray cells = board.cells();
  cells[cell_index(x, y)] = EMPTY;
  state.board = std::make_unique<Board>(board.config(), board.move_count() - 1, cells, board.side_to_move() ^ 1);
  state.moves.pop_back();
  app::say("OK");
}

// "FORBID " and Black's forbidden points of the game board as two-digit x then two-digit
// y, row-major, closed by ".".
void handle_show_forbidden(const GameState& state) {
  std::string line = "FORBID ";
  // A game just started (its board not built yet) has no stone and no forbidden point.
  if (state.board && !state.engine_dirty && state.board->config().rule == Rule::Renju) {
    const Board& board = *state.board;
    for (int y = 0; y < board.config().height; ++y) {
      for (int x = 0; x < board.config().width; ++x) {
        if (!board.forbidden()[cell_index(x, y)]) continue;
        line += static_cast<char>('0' + x / 10);
        line += static_cast<char>('0' + x % 10);
        line += static_cast<char>('0' + y / 10);
        line += static_cast<char>('0' + y % 10);
      }
    }
  }
  app::say(line + ".");
}

}  // namespace

int run(const config::Settings& settings) {
  GameState state(settings);
  ProtocolInput input(std::cin);

  while (true) {
    std::string command;
    try {
      command = to_lower_ascii(input.word());
      if (command == "start") {
        handle_start(state, input);
      } else if (command == "rectstart") {
        handle_rectstart(state, input);
      } else if (command == "restart") {
        new_game(state);
      } else if (command == "exit" || command == "end") {
        return 0;
      } else if (command == "about") {
        app::say(R"(name="Tovan", version="2024", author="Oren Valsk", country="Marovia")");
      } else if (command == "info") {
        handle_info(state, input);
      } else if (command == "begin") {
        handle_begin(state);
      } else if (command == "turn") {
        handle_turn(state, input);
      } else if (command == "takeback") {
        handle_takeback(state, input);
      } else if (command == "board") {
        handle_board(state, input);
      } else if (command == "swap2board") {
        handle_swap2board(state, input);
      } else if (command == "yxshowforbid") {
        handle_show_forbidden(state);
      } else if (command == "analyze") {
        handle_analyze(state, input);
      }
      // Any other word is ignored without a reply.
    } catch (const EndOfInput&) {
      return 0;
    } catch (const std::exception& error) {
      app::say_error(command + ": " + error.what());
    }
  }
}

}  // namespace tovan::protocol
