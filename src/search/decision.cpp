#include "search/decision.h"

#include <algorithm>
#include <random>

#include "search/clock.h"
#include "search/sliced_search.h"
#include "search/temperature.h"

namespace decision {
namespace {

// A prior above this is answered without search.
constexpr double kInstantAnswerPrior = 0.99;
// Budgets of a second or more are searched in slices with progress reports.
constexpr float kSlicedBudget = 1.0f;
constexpr float kMatchShare = 0.05f;

SearchLimits limits_of(const DecisionSettings& settings, float seconds, bool fast_search) {
  return {settings.visits_limit,
          seconds,
          fast_search,
          settings.fast_search_visits_threshold,
          settings.fast_search_best_action_visits_proportion_threshold,
          settings.fast_search_win_rate_threshold,
          settings.fast_search_draw_rate_threshold};
}

int32_t largest_entry(const std::vector<float>& values) {
  int32_t best = 0;
  for (size_t a = 1; a < values.size(); ++a) {
    if (values[a] > values[best]) best = static_cast<int32_t>(a);
  }
  return best;
}

}  // namespace

float time_budget(const TimeSettings& time, double elapsed_seconds, float search_time_reduction,
                  float startup_deduction) {
  float turn_left = static_cast<float>(time.timeout_turn / 1000.0 - elapsed_seconds);
  turn_left -= search_time_reduction;
  const float match_left = static_cast<float>(time.time_left / 1000.0);
  const float match_share = kMatchShare * match_left;
  float budget = match_share <= turn_left ? match_share : turn_left;
  budget -= startup_deduction;
  if (match_left < 15.0f) budget = std::min(budget, 0.2f);
  if (match_left < 5.0f) budget = std::min(budget, 0.02f);
  return budget;
}

int32_t sample_move(Node& root, float temperature) {
  std::vector<float> p = root.get_pruned_weights_by_action(true);
  apply_temperature(p, temperature);
  std::mt19937_64 generator{std::random_device{}()};
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
  context.search.set_root(context.constants, position, settings.root_temperature, false, false);
  Node& root = *context.search.root();

  if (allow_shortcut) {
    const std::vector<float>& prior = root.get_prior();
    const int32_t best = largest_entry(prior);
    if (static_cast<double>(prior[best]) > kInstantAnswerPrior) {
      context.report();
      return {position.candidates()[best], std::nullopt};
    }
  }

  const float budget = time_budget(context.time, seconds_since(context.command_start), settings.search_time_reduction,
                                  context.startup_deduction);
  context.startup_deduction = 0.0f;
  if (budget < kSlicedBudget) {
    context.search.search(limits_of(settings, budget, allow_shortcut));
  } else {
    search_in_slices(context.search, limits_of(settings, 0.0f, allow_shortcut),
                     monotonic_ns() + static_cast<int64_t>(static_cast<double>(budget) * 1e9), context.report);
  }

  const int32_t chosen = sample_move(root, settings.move_temperature);
  const float win_rate = static_cast<float>(root.get_value().values[position.side_to_move()] * 0.5 + 0.5);
  context.report();
  return {context.search.root_board().candidates()[chosen], win_rate};
}

}  // namespace decision
