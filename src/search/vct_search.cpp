// The VCT search of ThreatSolver: threat-space search over the attacker's threats that are
// no four, every defence answered, and its VCFs. See threat_solver.h.
#include <algorithm>
#include <cstddef>

#include "board/patterns.h"
#include "search/threat_moves.h"
#include "search/threat_solver.h"

namespace tovan::search {
namespace {

// Marks the table entries of VCT results apart from those of VCF results.
constexpr uint64_t kThreatKey = 0x9E3779B97F4A7C15ULL;

// Fours in the VCF that a threat makes, at most: an open three's straight four (one), a
// move that makes two fours at once (one), or a four and then either (two). Longer ones
// would make every cell along their lines a defence to answer.
constexpr int32_t kThreatFours = 2;

constexpr uint16_t kAnyFour = kFour | kStraightFour | kDoubleFour;
// The moves that may threaten without a four: an open three, or a three, which can
// complete the VCF that a threat needs. Fours are left to the VCF searches: spent as a
// threat, a four is only worth one later, and trying every four before every threat
// multiplies the search.
constexpr uint64_t kThreatMoveLanes = in_every_lane(kOpenThree | kThree);

// A threat move ranks by what it makes in each line (open threes, then threes), and a
// little more for each line where it also stands in the defender's way.
int32_t threat_rank(uint64_t own, uint64_t theirs) {
  int32_t rank = 0;
  for (int d = 0; d < 4; ++d) {
    const uint16_t lane = code_lane(own, d);
    rank += (lane & kOpenThree) ? 3 : (lane & kThree) ? 1 : 0;
    rank += (code_lane(theirs, d) & (kAnyFour | kOpenThree)) != 0;
  }
  return rank;
}

// The attacker's five points anywhere on the board, at most as many as FivePoints holds
// (with that many, no single reply stops them anyway).
FivePoints all_five_points(const Board& board, int attacker) {
  FivePoints points;
  for_each_cell(board.five_cells(attacker), [&](int index) {
    if (points.count < static_cast<int>(points.moves.size())) points.moves[points.count++] = move_at(index);
  });
  return points;
}

}  // namespace

ThreatLine ThreatSolver::find_vct(const Board& position, const ThreatLimits& limits, int32_t threes) {
  start(position, limits);
  ThreatLine result;
  for (int32_t allowed = 0; allowed <= threes && !aborted_; ++allowed) {
    line_cut_ = false;
    if (!attack_with_threats(allowed, limits.depth)) continue;
    result.moves.assign(line_.rbegin(), line_.rend());
    result.threats = allowed;
    // A line cut short at a position proven before goes on from there, searched anew.
    while (line_cut_ && !aborted_) {
      for (const Move move : result.moves) board_->play_tentative(move);
      line_.clear();
      line_cut_ = false;
      const bool won = attack_with_threats(allowed, limits.depth);
      for (auto move = result.moves.rbegin(); move != result.moves.rend(); ++move) board_->undo_tentative(*move);
      if (!won) break;  // out of budget
      result.moves.insert(result.moves.end(), line_.rbegin(), line_.rend());
    }
    break;
  }
  result.ends_in_five = ends_in_five_;
  result.aborted = aborted_ && !result.win();
  result.nodes = nodes_;
  return result;
}

// The attacker, to move on board_: a VCF, or a threat after which every defence still
// leaves a VCT. On success line_ holds the line, last move first, above what it held; it
// stops short, with line_cut_ set, at a position the table knows to be won (except at
// the search's first position, the one with all `moves` left, which is always searched).
bool ThreatSolver::attack_with_threats(int32_t threes, int32_t moves) {
  const size_t mark = line_.size();
  line_cut_ = false;
  if (attack(limits_.depth)) return true;
  line_.resize(mark);
  if (aborted_ || moves == 0 || over_budget()) return false;
  Board& board = *board_;
  const int attacker = board.side_to_move();
  const int defender = attacker ^ 1;
  const int defender_fives = count_up_to_two(board.five_cells(defender));
  if (defender_fives > 1 || (threes == 0 && defender_fives == 0)) return false;

  // The same position is reached again and again (the defender's fours, played in any
  // order, are blocked at the same cells): the table keeps what was proven of it.
  const uint64_t key = board.hash() ^ kThreatKey;
  if (const Entry& entry = entry_of(key); entry.hash == key) {
    if (entry.kind == Entry::kNoWin && entry.depth >= threes) return false;
    if (entry.kind == Entry::kWin && entry.depth <= threes && moves < limits_.depth) {
      line_cut_ = true;
      ends_in_five_ = false;
      return true;
    }
  }
  const auto remember = [&](bool won, Move move) {
    if (won) entry_of(key) = {key, move, static_cast<int8_t>(threes), Entry::kWin};
    if (!won && !aborted_) entry_of(key) = {key, Move{}, static_cast<int8_t>(threes), Entry::kNoWin};
    return won;
  };

  // The defender's four (a tempo it gained against a threat) must be blocked first; the
  // attack goes on when a threat stands after the block.
  if (defender_fives == 1) {
    Move block{};
    for_each_cell(board.five_cells(defender), [&](int index) { block = move_at(index); });
    if (!may_play(board, attacker, block)) return remember(false, block);
    board.play_tentative(block);
    const bool won = !board.game_over() && defend(threes, moves - 1);
    board.undo_tentative(block);
    if (won) line_.push_back(block);
    return remember(won, block);
  }

  const Move proven = proven_move(key).value_or(Move{-1, -1});  // tried first
  // This level's threat moves go on top of fours_, and leave it on every return.
  const size_t first = fours_.size();
  const FoursMark truncate{fours_, first};
  const auto& own = codes_of(board, attacker);
  const auto& theirs = codes_of(board, defender);
  for (int index = 0; index < kCellCount; ++index) {
    if (!(own[index] & kThreatMoveLanes) || (own[index] & kFourLanes)) continue;
    const Move move = move_at(index);
    fours_.push_back({move, move == proven ? 1000 : threat_rank(own[index], theirs[index])});
  }
  std::stable_sort(fours_.begin() + static_cast<std::ptrdiff_t>(first), fours_.end(),
                   [](const FourMove& a, const FourMove& b) { return a.order > b.order; });
  const size_t last = fours_.size();

  for (size_t i = first; i < last; ++i) {
    const Move move = fours_[i].move;  // fours_ may grow (and move) in the deeper levels
    if (!may_play(board, attacker, move)) continue;
    board.play_tentative(move);
    bool won = false;
    if (!board.game_over()) {
      line_cut_ = false;
      won = defend(threes - 1, moves - 1);
    }
    board.undo_tentative(move);
    if (won) {
      line_.push_back(move);
      return remember(true, move);
    }
    if (aborted_) return false;
  }
  return remember(false, Move{});
}

// The defender, to move on board_ after the attacker's four or threat: whether every
// defence leaves the attacker a VCT. On success line_ holds the line after the defence
// that took the most positions to refute, that defence last, above what it held.
bool ThreatSolver::defend(int32_t threes, int32_t moves) {
  if (over_budget()) return false;
  Board& board = *board_;
  const int defender = board.side_to_move();
  const int attacker = defender ^ 1;
  // The defender's five comes first.
  if (any_cell(board.five_cells(defender))) return false;
  const size_t mark = line_.size();

  // A four: its block is forced.
  if (any_cell(board.five_cells(attacker))) {
    const Replies replies = stopping_replies(board, all_five_points(board, attacker));
    if (replies.count == 0) {
      ends_in_five_ = false;
      return true;
    }
    if (replies.count > 1) return false;
    board.play_tentative(replies.first);
    const bool won = !board.game_over() && attack_with_threats(threes, moves);
    board.undo_tentative(replies.first);
    if (won) line_.push_back(replies.first);
    return won;
  }

  // A threat that is no four: the VCF it would leave if the defender passed, attacker first.
  board.pass_turn();
  const bool threatens = attack(std::min(kThreatFours, limits_.depth));
  board.pass_turn();
  const std::vector<Move> threat(line_.rbegin(), line_.rend() - static_cast<std::ptrdiff_t>(mark));
  const bool threat_ends_in_five = ends_in_five_;
  line_.resize(mark);
  if (!threatens) return false;
  // A VCF of the defender's beats any threat that is no four.
  const bool countered = attack(limits_.depth);
  line_.resize(mark);
  if (countered || aborted_) return false;

  // The line follows the defence that took the most positions to refute, among those
  // whose line was not cut short when there are any.
  std::vector<Move> hardest_line;  // last move first
  bool hardest_ends_in_five = threat_ends_in_five;
  bool hardest_cut = true;
  int64_t hardest = -1;  // positions its refutation took
  for (const Move reply : replies_to(board, threat)) {
    board.play_tentative(reply);
    bool won = false;
    int64_t cost = 0;
    line_cut_ = false;
    if (!board.game_over()) {
      if (line_still_wins(board, threat)) {
        won = true;
        line_.insert(line_.end(), threat.rbegin(), threat.rend());
        ends_in_five_ = threat_ends_in_five;
      } else {
        const int64_t before = nodes_;
        won = attack_with_threats(threes, moves);
        cost = nodes_ - before + 1;
      }
    }
    board.undo_tentative(reply);
    if (!won) {
      line_.resize(mark);
      return false;
    }
    if (hardest_cut > line_cut_ || (hardest_cut == line_cut_ && cost > hardest)) {
      hardest = cost;
      hardest_cut = line_cut_;
      hardest_line.assign(line_.begin() + static_cast<std::ptrdiff_t>(mark), line_.end());
      hardest_line.push_back(reply);
      hardest_ends_in_five = ends_in_five_;
    }
    line_.resize(mark);
  }
  line_.insert(line_.end(), hardest_line.begin(), hardest_line.end());
  ends_in_five_ = hardest_ends_in_five;
  line_cut_ = hardest_cut && hardest >= 0;
  return true;
}

}  // namespace tovan::search
