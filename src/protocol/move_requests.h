// The four commands that ask the engine for a move: begin, turn, board and swap2board.
//
// Each handler reads all of its arguments first, checks the manager's moves against the
// board (on the board, on an empty cell) and only then changes the game, so a refused
// request leaves the game as it was. Refusals are thrown as ProtocolError.
#pragma once

#include "protocol/game_state.h"
#include "protocol/protocol_input.h"

namespace tovan::protocol {

void handle_begin(GameState& state);
void handle_turn(GameState& state, ProtocolInput& input);
void handle_board(GameState& state, ProtocolInput& input);
void handle_swap2board(GameState& state, ProtocolInput& input);

// Checks that the manager's move (x, y) can be played on the board.
void check_playable(const Board& board, int32_t x, int32_t y);

}  // namespace tovan::protocol
