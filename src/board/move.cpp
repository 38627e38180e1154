#include "board/move.h"

namespace tovan {

std::string move_text(Move move) {
  std::string text = "(";
  text += std::to_string(move.y);
  text += ", ";
  text += std::to_string(move.x);
  text += ")";
  return text;
}

}  // namespace tovan
