// Line words and per-cell pattern codes.
//
// Every board line is kept as a packed word of 2-bit cell states; the pattern code of an
// empty cell in one direction is looked up from the eleven cells of its line centred on
// it. The classification tables are not built yet, so every code reads 0 (no pattern)
// and the Renju flags stay clear; the refresh calls already sit where play, undo and
// construction need them.
#pragma once

#include <cstdint>

class Board;

// The line word of direction d (0 row, 1 y - x constant, 2 column, 3 x + y constant)
// through (x, y), and the position of the cell inside it.
uint64_t& line_word(Board& board, int x, int y, int d);
int line_position(int x, int y, int d);

// XORs `bits` (a 2-bit cell state) into the four line words through (x, y).
void toggle_line_words(Board& board, int x, int y, uint64_t bits);

// Recomputes lane d of the Black and White codes of an empty on-board cell.
void refresh_cell_lane(Board& board, int y, int x, int d);
// Brings the codes up to date after a stone was placed on or removed from (x, y).
void refresh_around(Board& board, int y, int x);
