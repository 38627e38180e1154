#include "app/engine.h"

#include "app/config.h"
#include "app/protocol_input.h"

void ensure_engine(GameState& state) {
  if (!state.engine_dirty) {
    if (!state.board) throw ProtocolError("no game started: send start, rectstart or restart first");
    return;
  }
  reset_board(state);
  state.engine_dirty = false;
}

std::unique_ptr<Board> new_game_board(const GameState& state) {
  const BoardConfig board_config{rule_by_name(state.rule_name), state.height, state.width,
                                 config_int("env.area_candidate_range"), config_int("env.line_candidate_range")};
  return std::make_unique<Board>(board_config, 0, CellArray{}, 0);
}

void reset_board(GameState& state) { state.board = new_game_board(state); }
