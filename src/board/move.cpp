#include "board/move.h"

std::string move_text(Move move) {
  return "(" + std::to_string(move.y) + ", " + std::to_string(move.x) + ")";
}
