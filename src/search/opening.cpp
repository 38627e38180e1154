#include "search/opening.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "search/clock.h"
#include "search/sliced_search.h"

namespace tovan::search {
namespace {

// Points at least `margin` from every edge, within `range` of `centre` when given.
std::vector<Move> points_within(const Board& board, int margin, std::optional<Move> centre, int range) {
  std::vector<Move> points;
  const int height = board.config().height;
  const int width = board.config().width;
  for (int y = margin; y + margin < height; ++y) {
    for (int x = margin; x + margin < width; ++x) {
      if (centre && (std::abs(x - centre->x) > range || std::abs(y - centre->y) > range ||
                     Move{static_cast<int8_t>(x), static_cast<int8_t>(y)} == *centre))
        continue;
      points.push_back(Move{static_cast<int8_t>(x), static_cast<int8_t>(y)});
    }
  }
  return points;
}

Move random_pick(const std::vector<Move>& points, std::mt19937& generator) {
  return points[std::uniform_int_distribution<int>(0, 1000000)(generator) % points.size()];
}

double rounded(double value, double scale) { return std::round(value * scale) / scale; }

template <typename T>
std::string text(const T& value) {
  std::ostringstream stream;
  stream << value;
  return stream.str();
}

struct Attempt {
  std::array<Move, 3> moves;
  float visits;
  float action_value;
  float draw_rate;

  bool qualifies(const OpeningSettings& settings) const {
    return visits >= settings.visits_threshold && action_value >= settings.action_value_threshold &&
           draw_rate <= settings.draw_rate_threshold;
  }
  // How far the attempt misses the thresholds; 0 when it qualifies.
  double shortfall(const OpeningSettings& settings) const {
    const double missing_visits = settings.visits_threshold > 0
                                      ? std::max(0.0, 1.0 - visits / static_cast<double>(settings.visits_threshold))
                                      : 0.0;
    return missing_visits + std::max(0.0f, settings.action_value_threshold - action_value) +
           std::max(0.0f, draw_rate - settings.draw_rate_threshold);
  }
};

}  // namespace

std::array<Move, 3> generate_opening(const OpeningContext& context) {
  Board& board = context.board;
  std::mt19937 generator{std::random_device{}()};
  std::optional<Attempt> best;
  double longest_attempt = 0.0;
  const OpeningSettings& settings = context.settings;
  const auto elapsed = [&context] { return seconds_since(context.command_start); };
  const int64_t deadline_ns = context.command_start + static_cast<int64_t>(context.seconds_allowed * 1e9);

  while (true) {
    const double attempt_start = elapsed();
    const std::vector<Move> first_points = points_within(board, settings.margin_range, std::nullopt, 0);
    if (first_points.empty()) {
      throw std::invalid_argument("opening.margin_range leaves no point for the first stone on this board");
    }
    const Move first = random_pick(first_points, generator);
    const std::vector<Move> second_points =
        points_within(board, settings.margin_range, first, settings.candidate_range);
    if (second_points.empty()) {
      throw std::invalid_argument("opening.candidate_range leaves no point for the second stone on this board");
    }
    board.play(first);
    context.say("DEBUG first move: " + move_text(first));
    const Move second = random_pick(second_points, generator);
    board.play(second);
    context.say("DEBUG second move: " + move_text(second));

    // A balanced search: uniform prior, children scored by closeness to an even game.
    context.search.set_root(context.constants, board, 1.0f, true, true);
    // Until the visits limit is reached, or the manager's time is up.
    search_in_slices(context.search, {.visits_limit = settings.visits_limit}, deadline_ns,
                     deadline_ns, context.report);
    context.report();

    Node& root = *context.search.root();
    const std::vector<float> visits = root.get_visits_by_action();
    const std::vector<float> values = root.get_q_by_action();
    const std::vector<float> weights = root.get_pruned_weights_by_action(true);
    size_t third = 0;
    for (size_t a = 1; a < weights.size(); ++a) {
      if (weights[a] > weights[third]) third = a;
    }
    const Attempt attempt{
        {first, second, board.candidates()[third]}, visits[third], values[third], root.get_value().draw_rate};
    context.say("DEBUG visits: " + text(std::round(attempt.visits)));
    context.say("DEBUG action value: " + text(rounded(attempt.action_value, 100.0)));
    context.say("DEBUG draw rate: " + text(rounded(attempt.draw_rate, 100.0)));

    longest_attempt = std::max(longest_attempt, elapsed() - attempt_start);
    if (!best || attempt.shortfall(settings) < best->shortfall(settings)) best = attempt;
    const bool qualified = attempt.qualifies(settings);
    const bool out_of_time = elapsed() + longest_attempt > context.seconds_allowed;
    board.undo(second, true);
    board.undo(first, true);
    if (!qualified && !out_of_time) {
      context.say("DEBUG opening is unqualified, regenerating...");
      continue;
    }
    if (!qualified) {
      context.say(
          "DEBUG opening is unqualified and no time is left for another attempt: "
          "playing the attempt nearest to qualifying");
    }
    for (Move move : best->moves) board.play(move);
    context.say("DEBUG third move: " + move_text(best->moves[2]));
    context.say("DEBUG opening generated, used time: " + text(rounded(elapsed(), 10.0)));
    return best->moves;
  }
}

}  // namespace tovan::search
