// Renju forbidden points: the empty cells where Black may not play, because the stone
// would make an overline, a double four or a double three, unless it makes a five.
//
// Overlines, fives and fours come straight from the Renju flags. A double three is
// verified by placing the stone and checking, recursively, that at least two of its
// threes can really become a straight four at a point that is itself allowed. Nested
// verification stops four plies below the outermost update, where an unverified double
// three counts as forbidden (the quick rule). Each cell is judged on its own, so a
// verification judges only the straight-four points it needs, not the whole board.
#pragma once


namespace tovan {

class Board;

// Recomputes board.forbidden for Black, whatever the side to move, the whole map at once.
// Called under Renju after the codes are current and before the candidates are rebuilt.
// Places and takes back tentative stones on the board; afterwards the stones, hash, side
// to move, codes and flags are as before. Writes the warning line "forbidden point update
// timeout!" to standard error when the update took more than one second.
void update_forbidden(Board& board);

// Whether Black may not play on the empty cell (x, y) of the board's current position, as
// update_forbidden would judge it; for searches that play tentative moves without
// recomputing the map. Afterwards the board is as before.
bool forbidden_for_black(Board& board, int x, int y);

}  // namespace tovan
