#include "protocol/analysis.h"

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

#include "app/output.h"
#include "protocol/game_engine.h"
#include "search/clock.h"

namespace tovan::protocol {

namespace {

constexpr int32_t kMaxMilliseconds = 600000;
constexpr int32_t kMaxVisits = 10000000;
// A visits request's time limit, never reached before the tree budget stops the search.
constexpr float kNoTimeLimit = 1e9f;

struct AnalysisRequest {
  bool by_time;    // else by visits
  int32_t amount;  // milliseconds or visits
  int32_t count;   // moves listed
};

// The kind is checked before the integers are read, so that a wrong one does not take the
// next command for its amount.
AnalysisRequest read_request(ProtocolInput& input) {
  const std::string kind = to_lower_ascii(input.word());
  if (kind != "time" && kind != "visits") throw ProtocolError("expected time or visits, found \"" + kind + "\"");
  const int32_t amount = input.integer(kind);
  const int32_t count = input.integer("move count");
  const int32_t most = kind == "time" ? kMaxMilliseconds : kMaxVisits;
  if (amount < 1 || amount > most) {
    throw ProtocolError(kind + " must be 1 to " + std::to_string(most) + ", found " + std::to_string(amount));
  }
  if (count < 1 || count > kCellCount) {
    throw ProtocolError("move count must be 1 to " + std::to_string(kCellCount) + ", found " + std::to_string(count));
  }
  return {.by_time = kind == "time", .amount = amount, .count = count};
}

std::string fixed(double value, int decimals) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// Win rate as the search report gives it, and draw rate, for `side`.
std::string rates(const search::NodeValue& value, int side) {
  return "WIN " + fixed(value.values[side] * 0.5 + 0.5, 3) + " DRAW " + fixed(value.draw_rate, 3);
}

// Where the search goes on from `node`: the quickest proven win where it has one, else the
// most visited child (-1 when none).
int32_t next_action(search::Node& node) {
  const int32_t quickest = node.get_quickest_win_action();
  return quickest != -1 ? quickest : node.get_best_action();
}

// The line the search expects from the root's `action` on, that move first. It ends where
// the game does, or at a node with one visit or less.
std::string variation(const Board& position, search::Node& root, int32_t action) {
  Board board = position;
  search::Node* node = &root;
  std::string line = "PV";
  while (true) {
    const Move move = board.candidates()[action];
    line += ' ';
    line += app::move_reply(move.x, move.y);
    node = node->child_of_action(action);
    board.play(move);
    if (node == nullptr || board.game_over() || node->get_visits() <= 1.0f) return line;
    action = next_action(*node);
    if (action < 0) return line;
  }
}

// The root's candidates, most visited first, then by prior; the first `count`.
std::vector<int32_t> ranked_actions(const std::vector<float>& visits, const std::vector<float>& prior, int32_t count) {
  std::vector<int32_t> actions(visits.size());
  std::iota(actions.begin(), actions.end(), 0);
  std::stable_sort(actions.begin(), actions.end(), [&](int32_t a, int32_t b) {
    return visits[a] != visits[b] ? visits[a] > visits[b] : prior[a] > prior[b];
  });
  actions.resize(std::min(actions.size(), static_cast<size_t>(count)));
  return actions;
}

void reply_analysis(search::MCTS& search, int32_t count, int64_t start_ns) {
  search::Node& root = *search.root();
  const Board& position = search.root_board();
  const int side = position.side_to_move();
  const std::vector<float> visits = root.get_visits_by_action();
  const std::vector<float>& prior = root.get_prior();
  for (const int32_t action : ranked_actions(visits, prior, count)) {
    const Move move = position.candidates()[action];
    search::Node* child = root.child_of_action(action);
    const bool visited = child != nullptr && visits[action] > 0.0f;
    app::say("ANALYSIS " + app::move_reply(move.x, move.y) + " VISITS " +
             std::to_string(static_cast<int64_t>(visits[action])) + " " +
             (visited ? rates(child->get_value(), side) : "WIN - DRAW -") + " PRIOR " + fixed(prior[action], 4) + " " +
             variation(position, root, action));
  }
  app::say("ANALYSIS DONE VISITS " + std::to_string(static_cast<int64_t>(root.get_visits())) + " " +
           rates(root.get_value(), side) + " TIME " + fixed(search::seconds_since(start_ns), 2));
}

}  // namespace

void handle_analyze(GameState& state, ProtocolInput& input) {
  const int64_t start_ns = search::monotonic_ns();
  const AnalysisRequest request = read_request(input);
  ensure_engine(state);
  if (state.board->game_over()) throw ProtocolError("the game is already over");

  // The game's search, as a move request uses it; the game board is only read.
  search::MCTS& search = *state.engine.search;
  search.set_root(state.settings.node_config, *state.board, state.settings.decision.root_temperature, false, false);
  if (request.by_time) {
    const double seconds = request.amount / 1000.0 - search::seconds_since(start_ns);
    search.search({.visits_limit = state.settings.decision.visits_limit, .seconds = static_cast<float>(seconds)});
  } else {
    search.search({.visits_limit = static_cast<float>(request.amount), .seconds = kNoTimeLimit});
  }
  reply_analysis(search, request.count, start_ns);
}

}  // namespace tovan::protocol
