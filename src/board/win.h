// Win detection: whether a stone stands in a winning line under the rule.
#pragma once

#include "board/board.h"

namespace tovan {

// True when the stone on (x, y) forms a winning line under config.rule. Row before column.
bool is_winning_stone(const BoardConfig& config, const CellArray& cells, int y, int x);

}  // namespace tovan
