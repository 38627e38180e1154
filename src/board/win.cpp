#include "board/win.h"

namespace tovan {

namespace {

// The state at (x, y), with every off-board position reading BLOCKED.
int8_t state_at(const BoardConfig& config, const CellArray& cells, int x, int y) {
  if (x < 0 || x >= config.width || y < 0 || y >= config.height) return BLOCKED;
  return cells[cell_index(x, y)];
}

// Stones of colour `colour` in a row from (x, y) + step onwards.
int run_length(const BoardConfig& config, const CellArray& cells, int x, int y, int d, int8_t colour) {
  int length = 0;
  for (int cx = x + DX[d], cy = y + DY[d]; state_at(config, cells, cx, cy) == colour; cx += DX[d], cy += DY[d]) {
    ++length;
  }
  return length;
}

}  // namespace

bool is_winning_stone(const BoardConfig& config, const CellArray& cells, int y, int x) {
  const int8_t colour = state_at(config, cells, x, y);
  if (colour != BLACK && colour != WHITE) return false;
  const int8_t opponent = colour ^ 3;

  for (int d = 0; d < 4; ++d) {
    const int forward = run_length(config, cells, x, y, d, colour);
    const int backward = run_length(config, cells, x, y, d + 4, colour);
    const int length = forward + 1 + backward;
    switch (config.rule) {
      case Rule::Freestyle:
        if (length >= 5) return true;
        break;
      case Rule::Standard:
        if (length == 5) return true;
        break;
      case Rule::Renju:
        // An overline never wins for Black.
        if (length == 5 || (length > 5 && colour == WHITE)) return true;
        break;
      case Rule::StandardCaro: {
        if (length != 5) break;
        // A five with the opponent at both ends does not win; the board edge does not block.
        const int8_t end_forward = state_at(config, cells, x + (forward + 1) * DX[d], y + (forward + 1) * DY[d]);
        const int8_t end_backward =
            state_at(config, cells, x + (backward + 1) * DX[d + 4], y + (backward + 1) * DY[d + 4]);
        if (end_forward != opponent || end_backward != opponent) return true;
        break;
      }
    }
  }
  return false;
}

}  // namespace tovan
