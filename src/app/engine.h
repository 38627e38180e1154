// Assembly of the engine for a game: one evaluator per configured device loaded with the
// model for the rule and board size, the search over them, and a new game board.
#pragma once

#include <string>

#include "app/game_state.h"

// Rebuilds the engine when start, rectstart or restart marked it dirty, writing
// "DEBUG load model: <path>". The mark is cleared only after a successful build, so a
// failed build (a model that cannot be loaded) is tried again by the next request.
// Then puts the memory limit in force (the manager's max_memory, else the configured
// default). Throws ProtocolError when no game has been started.
void ensure_engine(GameState& state);

// The search constants from the configuration (read once, when the protocol loop starts).
NodeConfig read_node_config();

// "Freestyle_Large" for Freestyle when both sides are over 15, else the rule's name.
std::string model_name(const std::string& rule_name, int32_t height, int32_t width);

// An empty board of the current rule and size, with the configured candidate ranges.
std::unique_ptr<Board> new_game_board(const GameState& state);
// Replaces the game board with an empty one of the current rule and size.
void reset_board(GameState& state);
