// Everything the protocol loop keeps between commands: the game settings, the game board
// and (once the search exists) the engine built for the game.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "board/board.h"
#include "search/node_config.h"
#include "search/time_settings.h"

struct GameState {
  TimeSettings time;
  std::string rule_name = "Freestyle";
  NodeConfig node_config;
  int32_t height = 20;
  int32_t width = 20;
  // Set by start, rectstart and restart: the next move request rebuilds the engine.
  bool engine_dirty = false;
  float startup_deduction = 0.0f;  // seconds taken off the next decision's budget
  int64_t command_start = 0;       // monotonic nanoseconds when the move request was read
  int32_t move_x = 0;
  int32_t move_y = 0;
  float root_win_rate = 0.0f;
  std::unique_ptr<Board> board;  // null before the first game
};
