// Everything the protocol loop keeps between commands: the game settings, the game board
// and the engine built for the game (evaluators and search).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "board/board.h"
#include "config/settings.h"
#include "search/engine.h"
#include "search/time_settings.h"

namespace tovan::protocol {

struct GameState {
  explicit GameState(const config::Settings& settings) : settings(settings) {}

  const config::Settings& settings;
  search::TimeSettings time;
  Rule rule = Rule::Freestyle;
  int32_t height = 20;
  int32_t width = 20;
  // Set by start, rectstart and restart: the next move request rebuilds the engine.
  bool engine_dirty = false;
  int64_t memory_limit = -1;       // bytes, as last put in force (0: none)
  float startup_deduction = 0.0f;  // seconds taken off the next decision's budget
  int64_t command_start = 0;       // monotonic nanoseconds when the move request was read
  std::unique_ptr<Board> board;    // null before the first game
  // The board's stones in the order they were placed; only the last may be taken back.
  std::vector<Move> moves;
  search::Engine engine;  // no search before the first game, nor after a failed build
};

}  // namespace tovan::protocol
