// Line words, per-cell pattern codes and Renju flags.
//
// Every board line is kept as a packed word of 2-bit cell states. The pattern code of an
// empty cell in one direction is looked up (pattern_tables.h) by the key of the eleven
// cells of its line centred on it, without the centre. Under Renju each empty cell also
// carries five flags from its Black codes: 0 overline, 1 five, 2 straight four,
// 3 double four (two fours in one line, or fours in two lines), 4 open threes in two
// lines (a double three still to be verified).
#pragma once

#include <cstdint>

namespace tovan {

class Board;
struct CodeRecord;

// The line word of direction d (0 row, 1 y - x constant, 2 column, 3 x + y constant)
// through (x, y), and the position of the cell inside it.
uint64_t line_word(const Board& board, int x, int y, int d);
int line_position(int x, int y, int d);

// The 20-bit key of cell (x, y) in direction d: positions p - 5 .. p - 1 in bits 0..9,
// p + 1 .. p + 5 in bits 10..19.
uint32_t line_key(const Board& board, int x, int y, int d);

// Lane d (the code of direction d) of a cell's four-lane code word.
constexpr uint16_t code_lane(uint64_t codes, int d) { return static_cast<uint16_t>(codes >> (16 * d)); }

// XORs `bits` (a 2-bit cell state) into the four line words through (x, y).
void toggle_line_words(Board& board, int x, int y, uint64_t bits);

// Recomputes lane d of the Black and White codes of an empty on-board cell, and its Renju
// flags when the Black code changed.
void refresh_cell_lane(Board& board, int y, int x, int d);
// Brings the codes up to date after a stone was placed on or removed from (x, y); with a
// record, what they were before is kept in it.
void refresh_around(Board& board, int y, int x, CodeRecord* record);
// Puts back the codes, Renju flags and five and four sets that a record kept.
void restore_codes(Board& board, const CodeRecord& record);

}  // namespace tovan
