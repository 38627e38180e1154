#include "search/root_threats.h"

#include <algorithm>
#include <cstdlib>
#include <numeric>

#include "search/threat_moves.h"

namespace tovan::search {
namespace {

// Positions each candidate's first check may take at least, and at most the root limit's
// share of this many checks.
constexpr int64_t kMinCandidateNodes = 1000;
constexpr int64_t kQuickChecks = 16;

std::string line_text(const std::vector<Move>& moves) {
  std::string text;
  for (const Move move : moves) {
    if (!text.empty()) text += ' ';
    text += move_text(move);
  }
  return text;
}

// Of `order` (indices of the position's candidates, each refuted by a win of the
// opponent's with `threats` threats), the first whose refutation needs the most fours in
// its VCFs: the move that holds out longest. The wins are looked for again with one four
// allowed, then two, and so on, until a single candidate (or none) stands.
Move holding_out_longest(ThreatSolver& solver, const Board& position, std::vector<size_t> order, int32_t threats,
                         const ThreatLimits& limits) {
  const std::vector<Move>& candidates = position.candidates();
  Board after = position;
  int64_t positions_left = limits.nodes;  // for all the searches together
  for (int32_t fours = 1; order.size() > 1 && fours <= limits.depth; ++fours) {
    std::vector<size_t> standing;
    for (const size_t a : order) {
      after.play_tentative(candidates[a]);
      const ThreatLine refutation = find_own_win(solver, after, threats, {positions_left, fours, limits.deadline_ns});
      after.undo_tentative(candidates[a]);
      positions_left -= refutation.nodes;
      if (refutation.aborted || positions_left <= 0) return candidates[order.front()];
      if (!refutation.win()) standing.push_back(a);
    }
    if (standing.empty()) break;
    order = std::move(standing);
  }
  return candidates[order.front()];
}

}  // namespace

TreeThreats tree_threats(const ThreatSettings& threats) {
  if (!threats.enabled) return {.vcf = {0, threats.max_fours, 0}};
  return {.vcf = {threats.tree_nodes, threats.max_fours, 0},
          .vct_visits = threats.tree_vct_visits,
          .vct_threes = threats.vct_threes,
          .vct_nodes = threats.tree_vct_nodes};
}

ThreatLine find_own_win(ThreatSolver& solver, const Board& position, int32_t threes, const ThreatLimits& limits) {
  return threes == 0 ? solver.find_vcf(position, limits) : solver.find_vct(position, limits, threes);
}

std::string win_report(const ThreatLine& line) {
  return "DEBUG Win 1.00 | Proof " + std::to_string(line.plies()) + (line.threats == 0 ? " | VCF " : " | VCT ") +
         line_text(line.moves);
}

std::optional<Move> exclude_refuted(MCTS& search, const Board& position, int32_t threes, const ThreatLimits& limits,
                                    const std::function<void(const std::string&)>& say) {
  ThreatSolver& solver = search.root_solver();
  const Board passed(position.config(), position.move_count(), position.cells(), position.side_to_move() ^ 1);
  if (passed.game_over()) return std::nullopt;
  const ThreatLine threat = find_own_win(solver, passed, threes, limits);
  if (!threat.win()) return std::nullopt;

  // The moves near the threat's line first (only a stone within five steps along a line of
  // one of its moves changes that line), each group the likeliest first, so that those
  // the limits leave unchecked are the least likely to stop it.
  const std::vector<Move>& candidates = search.root_board().candidates();
  const std::vector<float> prior = search.root()->get_prior();
  const auto near_threat = [&](Move m) {
    return std::any_of(threat.moves.begin(), threat.moves.end(), [m](Move t) {
      const int dx = m.x - t.x;
      const int dy = m.y - t.y;
      return std::max(std::abs(dx), std::abs(dy)) <= 5 && (dx == 0 || dy == 0 || dx == dy || dx == -dy);
    });
  };
  std::vector<size_t> order(candidates.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    const bool near_a = near_threat(candidates[a]);
    return near_a != near_threat(candidates[b]) ? near_a : prior[a] > prior[b];
  });
  std::vector<uint8_t> excluded(candidates.size(), 0);
  std::vector<uint8_t> unsolved(candidates.size(), 0);
  Board after = position;  // each candidate played and taken back; the solver needs no candidate list
  // The checks together search at most the limits' positions: without a deadline (in
  // self-play) they would otherwise take that many for each candidate.
  int64_t positions_left = limits.nodes;
  // A VCF's own line, replayed after each candidate (no search), refutes those that leave
  // it standing.
  if (threat.threats == 0) {
    for (const size_t a : order) {
      after.play_tentative(candidates[a]);
      excluded[a] = !after.game_over() && line_still_wins(after, threat.moves);
      after.undo_tentative(candidates[a]);
    }
  }
  const auto check = [&](size_t a, int32_t threats, const ThreatLimits& check_limits) {
    const Move move = candidates[a];
    unsolved[a] = positions_left <= 0;
    if (unsolved[a]) return;
    after.play_tentative(move);
    if (!after.game_over()) {
      const ThreatLimits shared{std::min(check_limits.nodes, positions_left), check_limits.depth,
                                check_limits.deadline_ns};
      const ThreatLine refutation = find_own_win(solver, after, threats, shared);
      excluded[a] = refutation.win();
      unsolved[a] = refutation.aborted;
      positions_left -= refutation.nodes;
    }
    after.undo_tentative(move);
  };
  // Then every candidate left for a win with no more threats than the one found: a VCF,
  // within the limits; a VCT, within twice the positions it took, since a candidate that
  // leaves it as it was is refuted by a proof of about the same size. Then the candidates
  // left, for a win with up to `threes` threats, sharing the positions of the limits.
  const int64_t quick_nodes =
      threat.threats == 0 ? limits.nodes : std::min(limits.nodes / kQuickChecks, 2 * threat.nodes + kMinCandidateNodes);
  for (const size_t a : order) {
    if (!excluded[a]) check(a, threat.threats, {quick_nodes, limits.depth, limits.deadline_ns});
  }
  const auto left = static_cast<int64_t>(std::count(excluded.begin(), excluded.end(), 0));
  if (threat.threats < threes && left > 0) {
    const int64_t deep_nodes = std::max(quick_nodes, limits.nodes / std::max(left, kQuickChecks));
    for (const size_t a : order) {
      if (!excluded[a]) check(a, threes, {deep_nodes, limits.depth, limits.deadline_ns});
    }
  }
  const auto kept = static_cast<size_t>(std::count(excluded.begin(), excluded.end(), 0));
  const auto open = static_cast<size_t>(std::count(unsolved.begin(), unsolved.end(), 1));
  say(std::string(threat.threats == 0 ? "DEBUG VCF threat: " : "DEBUG VCT threat: ") + line_text(threat.moves) + "; " +
      std::to_string(kept - open) + " of " + std::to_string(candidates.size()) + " moves stop it" +
      (open > 0 ? ", " + std::to_string(open) + " unsolved" : ""));
  if (kept == 0) return holding_out_longest(solver, position, order, threat.threats, limits);
  if (kept < candidates.size()) search.root()->exclude_actions(excluded);
  return std::nullopt;
}

}  // namespace tovan::search
