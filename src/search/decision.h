// The move decision: a fresh search of the current position within a time budget worked
// out from the manager's limits, and the move drawn from the root's pruned visit weights.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "board/board.h"
#include "search/mcts.h"
#include "search/node_config.h"
#include "search/time_settings.h"

namespace decision {

// The threat solver's part in a decision. At the root: a VCF for the side to move is
// played at once, before the network; when the opponent would have a VCF if the side to
// move passed, the candidates after which the opponent's VCF is found are excluded from
// the search; else a VCT of at most vct_threes threats (0: none) is played at once. The
// checks together take at most root_time_share of the move's time. In the tree, every new position is searched with
// tree_nodes (0: not at all).
struct ThreatSettings {
  bool enabled;
  int32_t max_fours;   // fours in a line, at most
  int32_t vct_threes;  // threats that are no four in a VCT, at most
  int64_t root_nodes;  // per root check
  float root_time_share;
  int64_t tree_nodes;
};

// The configuration values a decision reads.
struct DecisionSettings {
  float root_temperature;
  float search_time_reduction;  // seconds
  float fast_search_draw_rate_threshold;
  float fast_search_win_rate_threshold;
  float fast_search_best_action_visits_proportion_threshold;
  float fast_search_visits_threshold;
  float visits_limit;
  float move_temperature;
  ThreatSettings threats;
};

struct DecisionContext {
  MCTS& search;
  const NodeConfig& constants;
  const TimeSettings& time;
  int64_t command_start;     // monotonic nanoseconds when the request was read
  float& startup_deduction;  // seconds, taken once off the budget, then cleared
  const DecisionSettings& settings;
  std::function<void()> report;  // prints a search report of the current tree
  std::function<void(const std::string&)> say;  // prints a line to the manager
};

struct Decision {
  Move move;
  // The root's win rate for the side to move, 0..1; unset when the move was answered at once.
  std::optional<float> root_win_rate;
};

// The tree limits of the threat settings: new positions get tree_nodes (0 when disabled).
ThreatLimits tree_threat_limits(const ThreatSettings& threats);

// When the opponent would have a VCF if the side to move of `position` (the search's root,
// not yet searched) passed, the root's candidates after which the solver finds the
// opponent's VCF are excluded from the search, unless that is every one of them. A
// candidate left unsolved within the limits stays. `say` gets the threat as a DEBUG line.
// Returns whether the opponent had that VCF.
bool exclude_refuted(MCTS& search, const Board& position, const ThreatLimits& limits,
                     const std::function<void(const std::string&)>& say);

// Searches `position` (not finished, with candidates) and chooses a move: a VCF found at the
// root is played at once, else the move drawn from the search, replaced by a proven win
// when the root has one, and by the best unproven move when it is proven lost while such
// a move remains. With allow_shortcut, a move the network gives more than 0.99 is
// answered without search, and the search may stop early when the result is clear (fast
// search).
Decision decide(const DecisionContext& context, const Board& position, bool allow_shortcut);

// Seconds to search: the share of the match time or what is left of the turn (less the
// reduction), whichever is smaller, less the start-up deduction, capped when little match
// time is left.
float time_budget(const TimeSettings& time, double elapsed_seconds, float search_time_reduction,
                  float startup_deduction);

// The candidate drawn from the root's pruned visit weights sharpened by `temperature`
// (at 0, the heaviest, the first of equals); with no weight at all (no simulation ran),
// the most visited candidate, else the highest prior.
int32_t sample_move(Node& root, float temperature);

}  // namespace decision
