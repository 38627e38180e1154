// Renju forbidden points: where Black may not play (overline, double four, double three
// unless the move makes a five).
#pragma once

class Board;

// Recomputes board.forbidden for Black; called under Renju only, after the codes are
// current and before the candidates are rebuilt. Callers have cleared the map.
// The pattern classification that marks overlines, fours and threes is not built yet,
// so no point is forbidden for now.
void update_forbidden(Board& board);
