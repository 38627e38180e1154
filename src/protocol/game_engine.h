// Assembly of the engine for a game: one evaluator per configured device loaded with the
// model for the rule and board size, the search over them, and a new game board.
#pragma once

#include "protocol/game_state.h"

namespace tovan::protocol {

// Rebuilds the engine, writing "DEBUG load model: <path>": with a new empty board when
// start, rectstart or restart marked it dirty; keeping the game's stones when the rule
// changed since it was built. A failed build (a model that cannot be loaded) is tried
// again by the next request. Then puts the memory limit in force (the manager's
// max_memory, else the configured default). Throws ProtocolError when no game has been
// started.
void ensure_engine(GameState& state);

// The current game's rule and size, with the configured candidate ranges.
BoardConfig game_board_config(const GameState& state);

}  // namespace tovan::protocol
