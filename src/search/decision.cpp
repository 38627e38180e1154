#include "search/decision.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "search/clock.h"
#include "search/sliced_search.h"
#include "search/temperature.h"

namespace tovan::search {
namespace {

// A prior above this is answered without search.
constexpr double kInstantAnswerPrior = 0.99;
// Budgets of a second or more are searched in slices with progress reports.
constexpr float kSlicedBudget = 1.0f;
// Our moves still to come: half the plies a game takes till kGamePlies stones stand, at
// least kFewestMovesLeft.
constexpr int32_t kGamePlies = 70;
constexpr int32_t kFewestMovesLeft = 12;
// An unsettled search may take this many times its planned time, and never more than
// this share of the match time left.
constexpr float kUnsettledFactor = 2.0f;
constexpr float kMostMatchShare = 0.15f;

// A self-play search's time limit, never reached: it stops at its visits.
constexpr float kNoTimeLimit = 1e9f;

SearchLimits limits_of(const DecisionSettings& settings, float seconds, bool fast_search) {
  return {.visits_limit = settings.visits_limit,
          .seconds = seconds,
          .fast_search = fast_search,
          .fast_visits_threshold = settings.fast_search_visits_threshold,
          .best_visits_proportion = settings.fast_search_best_action_visits_proportion_threshold,
          .win_rate_threshold = settings.fast_search_win_rate_threshold,
          .draw_rate_threshold = settings.fast_search_draw_rate_threshold};
}

// A proven win replaces the drawn move, the quickest if several. A drawn move proven lost
// or excluded gives way to the most visited (then the highest prior) candidate that is
// neither, while one remains.
int32_t settle_with_proofs(Node& root, int32_t drawn) {
  if (const int32_t quickest = root.get_quickest_win_action(); quickest != -1) return quickest;
  const std::vector<Proof> proofs = root.get_proofs_by_action();
  const auto lost = [&](size_t a) {
    return proofs[a].result == Proof::kWin || root.excluded(static_cast<int32_t>(a));
  };
  if (!lost(drawn)) return drawn;
  const std::vector<float> visits = root.get_visits_by_action();
  const std::vector<float> prior = root.get_prior();
  int32_t best = -1;
  for (size_t a = 0; a < proofs.size(); ++a) {
    if (lost(a)) continue;
    if (best == -1 || visits[a] > visits[best] || (visits[a] == visits[best] && prior[a] > prior[best])) {
      best = static_cast<int32_t>(a);
    }
  }
  return best == -1 ? drawn : best;
}

int32_t largest_entry(const std::vector<float>& values) {
  int32_t best = 0;
  for (size_t a = 1; a < values.size(); ++a) {
    if (values[a] > values[best]) best = static_cast<int32_t>(a);
  }
  return best;
}

}  // namespace

MoveTime move_time(const TimeSettings& time, double elapsed_seconds, float search_time_reduction,
                   float startup_deduction, int32_t stones) {
  const float turn_left = static_cast<float>(time.timeout_turn / 1000.0 - elapsed_seconds) - search_time_reduction;
  const float match_left = static_cast<float>(time.time_left / 1000.0);
  const int32_t moves_left = std::max(kFewestMovesLeft, (kGamePlies - stones) / 2);
  const float share = match_left / static_cast<float>(moves_left);
  MoveTime result;
  result.most = std::min(turn_left, kMostMatchShare * match_left);
  result.capped = share >= result.most;
  result.planned = std::min(result.most, share);
  result.most = std::min(result.most, kUnsettledFactor * result.planned);
  for (float* seconds : {&result.planned, &result.most}) {
    *seconds -= startup_deduction;
    if (match_left < 15.0f) *seconds = std::min(*seconds, 0.2f);
    if (match_left < 5.0f) *seconds = std::min(*seconds, 0.02f);
  }
  return result;
}

int32_t sample_move(Node& root, float temperature, std::mt19937_64& generator) {
  std::vector<float> p = root.get_pruned_weights_by_action(true);
  if (temperature <= 0.0f) {
    // Not a draw at a tiny temperature, which still picks between near-equal weights.
    const int32_t heaviest = largest_entry(p);
    if (p[heaviest] > 0.0f) return heaviest;
  } else {
    apply_temperature(p, temperature);
  }
  const float r = std::uniform_real_distribution<float>(0.0f, 1.0f)(generator);
  double total = 0.0;
  for (float weight : p) total += weight;
  const double threshold = static_cast<double>(static_cast<float>(total) * r);
  double running = 0.0;
  for (size_t a = 0; a < p.size(); ++a) {
    if (running <= threshold) running += p[a];
    if (running >= threshold && p[a] > 0.0f) return static_cast<int32_t>(a);
  }
  // No weight (no simulation ran) or rounding left the sum short: the most visited
  // candidate, else the highest prior.
  const std::vector<float> visits = root.get_visits_by_action();
  const int32_t most_visited = largest_entry(visits);
  return visits[most_visited] > 0.0f ? most_visited : largest_entry(root.get_prior());
}

Decision decide(const DecisionContext& context, const Board& position, bool allow_shortcut) {
  const DecisionSettings& settings = context.settings;
  const ThreatSettings& threats = settings.threats;
  const std::optional<Playouts>& playouts = context.playouts;
  const MoveTime times =
      playouts ? MoveTime{kNoTimeLimit, kNoTimeLimit}
               : move_time(context.time, seconds_since(context.command_start), settings.search_time_reduction,
                           context.startup_deduction, static_cast<int32_t>(position.stone_count()));
  const float budget = times.planned;
  const int64_t start = monotonic_ns();
  // The root checks' share of the time, of which the side to move's own win takes at most
  // a third: the defence gets the rest. Self-play's checks are bounded by positions alone.
  const auto checks_ns = static_cast<int64_t>(static_cast<double>(budget) * threats.root_time_share * 1e9);
  const int64_t checks_deadline = playouts ? 0 : start + checks_ns;
  const int64_t own_win_deadline = playouts ? 0 : start + checks_ns / 3;
  if (threats.enabled) {
    ThreatLine line = find_own_win(context.search.root_solver(), position, threats.vct_threes,
                                   {threats.root_nodes, threats.max_fours, own_win_deadline});
    if (line.win()) {
      context.say(win_report(line));
      return {.move = line.moves[0], .root_win_rate = 1.0f, .proof = Proof::kWin, .threat_line = std::move(line.moves)};
    }
  }

  context.search.set_root(context.constants, position, settings.root_temperature, false,
                          playouts && playouts->exploration);
  Node& root = *context.search.root();
  if (context.search.kept_visits() > 0.0f) {
    context.say("DEBUG tree kept: " + std::to_string(static_cast<int64_t>(context.search.kept_visits())) + " visits");
  }
  if (threats.enabled) {
    const std::optional<Move> holds_out =
        exclude_refuted(context.search, position, threats.vct_threes,
                        {threats.root_nodes, threats.max_fours, checks_deadline}, context.say);
    if (holds_out) return {.move = *holds_out, .root_win_rate = 0.0f, .proof = Proof::kLoss};
  }

  if (allow_shortcut && !playouts) {
    const std::vector<float> prior = root.get_prior();
    const int32_t best = largest_entry(prior);
    if (static_cast<double>(prior[best]) > kInstantAnswerPrior && settle_with_proofs(root, best) == best) {
      context.report();
      return {.move = position.candidates()[best]};
    }
  }

  std::mt19937_64 own_generator{playouts ? 0 : std::random_device{}()};
  std::mt19937_64& generator = playouts ? *playouts->generator : own_generator;
  float temperature = settings.move_temperature;
  if (playouts) {
    context.search.search({.visits_limit = playouts->visits, .seconds = kNoTimeLimit, .fast_search = false});
    temperature = playouts->temperature;
  } else {
    context.startup_deduction = 0.0f;
    // A settled search stops early only where the time saved serves the moves to come.
    const bool stop_early = allow_shortcut && !times.capped;
    const auto deadline = [start](float seconds) { return start + static_cast<int64_t>(seconds * 1e9); };
    if (times.most < kSlicedBudget) {
      const float seconds = static_cast<float>(static_cast<double>(deadline(budget) - monotonic_ns()) / 1e9);
      SearchLimits limits = limits_of(settings, seconds, stop_early);
      limits.move_end_ns = deadline(budget);
      context.search.search(limits);
    } else {
      search_in_slices(context.search, limits_of(settings, 0.0f, stop_early), deadline(budget),
                       deadline(times.most), context.report);
    }
    if (times.planned > 0.0f) {
      char line[96];
      std::snprintf(line, sizeof line, "DEBUG time: %.2f s of %.2f planned, %.2f at most", seconds_since(start),
                    times.planned, times.most);
      context.say(line);
    }
  }

  const int32_t chosen = settle_with_proofs(root, sample_move(root, temperature, generator));
  const float win_rate = static_cast<float>(root.get_value().values[position.side_to_move()] * 0.5 + 0.5);
  context.report();
  return {.move = context.search.root_board().candidates()[chosen],
          .root_win_rate = win_rate,
          .proof = root.proof().result};
}

}  // namespace tovan::search
