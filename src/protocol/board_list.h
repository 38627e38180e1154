// A position given whole by a board or swap2board list: the colours of its stones, their
// placement, and whether the list describes a game that could have been played.
#pragma once

#include <memory>
#include <vector>

#include "board/board.h"
#include "protocol/protocol_input.h"

namespace tovan::protocol {

struct ListedPosition {
  std::unique_ptr<Board> board;
  std::vector<Move> moves;  // in the order listed
};

// Places every listed stone, then judges the position as a whole, so the order of the
// list does not decide who has won. Colours alternate from Black, unless every stone
// carries a who field of 1 or 2 and the fields contradict the alternation: then they give
// the colours, the engine's own stones (1) being the side to move. Throws ProtocolError
// for a stone off the board or on an occupied cell, for fields whose counts fit neither
// side to move, and for a list that goes on after a five (both sides have one, the winner
// is not the side that moved last, or no single stone made every winning line).
ListedPosition place_listed_stones(const BoardConfig& config, const std::vector<MoveWord>& words);

}  // namespace tovan::protocol
