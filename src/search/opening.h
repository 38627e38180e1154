// Swap2 openings: three stones that leave the game balanced. The first two are drawn at
// random near the centre; a balanced search with root exploration picks the third and
// judges whether the opening is even enough; otherwise another attempt starts.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "board/board.h"
#include "search/mcts.h"
#include "search/node_config.h"

namespace tovan::search {

// The configuration values the generator reads.
struct OpeningSettings {
  int32_t margin_range;     // distance of the first two stones from the edges
  int32_t candidate_range;  // reach of the second stone around the first
  float visits_limit;
  float visits_threshold;        // minimum visits of the third stone
  float action_value_threshold;  // minimum value of the third stone (at most 0 in balanced mode)
  float draw_rate_threshold;     // maximum draw rate of the position
};

struct OpeningContext {
  MCTS& search;
  const NodeConfig& constants;
  Board& board;            // an empty board; the three stones are played on it
  int64_t command_start;   // monotonic nanoseconds when the request was read
  double seconds_allowed;  // time the manager allows for the whole request
  const OpeningSettings& settings;
  std::function<void()> report;                 // prints a search report
  std::function<void(const std::string&)> say;  // writes a diagnostic line
};

// Attempts until an opening qualifies, or until another attempt would not fit in the time
// left (judged by the longest attempt so far): then the attempt nearest to qualifying is
// played. Throws std::invalid_argument when the settings leave no point for the first or
// the second stone on this board.
std::array<Move, 3> generate_opening(const OpeningContext& context);

}  // namespace tovan::search
