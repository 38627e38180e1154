// A move: a column x and a row y, each from 0.
#pragma once

#include <cstdint>
#include <string>

namespace tovan {

struct Move {
  int8_t x;
  int8_t y;

  friend bool operator==(const Move&, const Move&) = default;
};

// Diagnostic form, row first: the move x 7, y 3 reads "(3, 7)".
std::string move_text(Move move);

}  // namespace tovan
