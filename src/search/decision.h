// The move decision: a fresh search of the current position within a time budget worked
// out from the manager's limits, and the move drawn from the root's pruned visit weights.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "board/board.h"
#include "search/mcts.h"
#include "search/node_config.h"
#include "search/root_threats.h"
#include "search/time_settings.h"

namespace tovan::search {

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

// What sets a self-play decision apart from a game's: it searches a number of visits
// instead of against the clock, may explore at the root (noise and forced playouts), and
// draws its move at its own temperature with its own generator, so that a seed repeats a
// run.
struct Playouts {
  float visits;
  bool exploration;
  float temperature;
  std::mt19937_64* generator;
};

struct DecisionContext {
  MCTS& search;
  const NodeConfig& constants;
  const DecisionSettings& settings;
  const TimeSettings& time;
  int64_t command_start;                        // monotonic nanoseconds when the request was read
  float& startup_deduction;                     // seconds, taken once off the budget, then cleared
  std::function<void()> report;                 // prints a search report of the current tree
  std::function<void(const std::string&)> say;  // prints a line to the manager
  // Set for self-play, where the time, the request's start and the deduction play no part.
  std::optional<Playouts> playouts{};
};

struct Decision {
  Move move;
  // The root's win rate for the side to move, 0..1; unset when the move was answered at once.
  std::optional<float> root_win_rate{};
  // The result for the side to move when it is proven: won by the root's threats (their
  // line in threat_line) or by the tree, or lost by every move.
  Proof::Result proof = Proof::kNone;
  std::vector<Move> threat_line{};
};

// Searches `position` (not finished, with candidates) and chooses a move: a VCF or VCT
// found at the root is played at once, and so is the move that holds out longest when
// every move loses to the opponent's; else the move drawn from the search, replaced by a
// proven win when the root has one, and by the best unproven move when it is proven lost
// while such a move remains. With allow_shortcut, a move the network gives more than 0.99 is
// answered without search, and the search may stop early when the result is clear (fast
// search).
Decision decide(const DecisionContext& context, const Board& position, bool allow_shortcut);

// The time of a move, in seconds: what it plans to take, and the most it may take while
// its search has not settled.
struct MoveTime {
  float planned;
  float most;
  // The plan is the turn's cap (or the match share's): time a search saves could not be
  // spent by the moves to come, so it does not stop early.
  bool capped = false;
};

// The planned time is the match time left shared among the moves still to come (the
// fewer stones on the board, the more of them), the most is kUnsettledFactor times that;
// neither goes past what is left of the turn (less the reduction) nor past a share of the
// match time left; the start-up deduction comes off both; little match time left caps
// them. A plan at the turn's cap is marked so.
MoveTime move_time(const TimeSettings& time, double elapsed_seconds, float search_time_reduction,
                   float startup_deduction, int32_t stones);

// The candidate drawn from the root's pruned visit weights sharpened by `temperature`
// (at 0, the heaviest, the first of equals); with no weight at all (no simulation ran),
// the most visited candidate, else the highest prior.
int32_t sample_move(Node& root, float temperature, std::mt19937_64& generator);

}  // namespace tovan::search
