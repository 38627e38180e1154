// Assembly of the engine for a game: the game board (and, once they exist, the evaluators
// and the search object) built from the configuration and the game settings.
#pragma once

#include "app/game_state.h"

// Rebuilds the engine when start, rectstart or restart marked it dirty. The mark is cleared
// only after a successful build, so a failed build is tried again by the next request.
// Throws ProtocolError when no game has been started.
void ensure_engine(GameState& state);

// An empty board of the current rule and size, with the configured candidate ranges.
std::unique_ptr<Board> new_game_board(const GameState& state);
// Replaces the game board with an empty one of the current rule and size.
void reset_board(GameState& state);
