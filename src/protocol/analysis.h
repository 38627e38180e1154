// The analysis request, an addition of this engine that managers never send:
// "analyze time MS N" or "analyze visits V N" searches the game's position for MS
// milliseconds or until its root has V visits, then lists its N best moves, one line each,
// and a closing line:
//
//   ANALYSIS x,y VISITS v WIN w DRAW d PRIOR p PV x,y x,y ...
//   ANALYSIS DONE VISITS v WIN w DRAW d TIME s
//
// Moves are ranked by visits, then by prior, so unvisited candidates follow with their
// prior and "-" for their win and draw rates. Rates are for the side to move, the win rate
// as in the search report. The game's position, moves and settings are left as they were.
#pragma once

#include "protocol/game_state.h"
#include "protocol/protocol_input.h"

namespace tovan::protocol {

// Refusals (arguments out of range, no game, a finished game) are thrown as ProtocolError.
void handle_analyze(GameState& state, ProtocolInput& input);

}  // namespace tovan::protocol
