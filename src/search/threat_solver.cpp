#include "search/threat_solver.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cstddef>
#include <optional>

#include "board/pattern_codes.h"
#include "board/patterns.h"
#include "board/zobrist.h"
#include "search/clock.h"
#include "search/threat_moves.h"

namespace tovan::search {
namespace {

constexpr uint64_t kThreatLanes = in_every_lane(kFour | kStraightFour | kDoubleFour | kOpenThree | kThree);

// The clock is read at a search's first node and then once per this many nodes: the root
// runs many small searches one after another, and one begun past the deadline must stop
// at once.
constexpr int64_t kClockInterval = 256;

// A four move ranks by the lanes in which it also builds threats, and a straight four (or
// two fours in one line) comes first.
int32_t order_of(uint64_t code) {
  int32_t lanes = 0;
  for (int d = 0; d < 4; ++d) lanes += (code_lane(code, d) & code_lane(kThreatLanes, 0)) != 0;
  return lanes + ((code & in_every_lane(kStraightFour | kDoubleFour)) ? 8 : 0);
}

#ifndef NDEBUG
// Whether the board's five and four sets of `player` are the cells its codes say.
bool threat_cells_match(const Board& board, int player) {
  const auto& codes = codes_of(board, player);
  for (int index = 0; index < kCellCount; ++index) {
    const uint64_t bit = uint64_t{1} << (index % 64);
    const bool five = (board.five_cells(player)[index / 64] & bit) != 0;
    const bool four = (board.four_cells(player)[index / 64] & bit) != 0;
    if (five != ((codes[index] & kFiveLanes) != 0) || four != ((codes[index] & kFourLanes) != 0)) return false;
  }
  return true;
}
#endif

}  // namespace

ThreatSolver::ThreatSolver(int32_t table_bits)
    : table_(size_t{1} << table_bits), mask_((uint64_t{1} << table_bits) - 1) {
  fours_.reserve(1024);
}

ThreatSolver::~ThreatSolver() = default;

int64_t ThreatSolver::table_bytes(int32_t table_bits) { return int64_t{sizeof(Entry)} << table_bits; }

void ThreatSolver::start(const Board& position, const ThreatLimits& limits) {
  assert(!position.game_over());
  if (board_) {
    *board_ = position;
  } else {
    board_ = std::make_unique<Board>(position);
  }
  limits_ = limits;
  if (records_.size() < 2 * static_cast<size_t>(limits.depth) + 2)
    records_.resize(2 * static_cast<size_t>(limits.depth) + 2);
  nodes_ = 0;
  aborted_ = false;
  line_.clear();
  ends_in_five_ = false;
}

ThreatLine ThreatSolver::find_vcf(const Board& position, const ThreatLimits& limits) {
  // Without a five point or a four move of its own the side to move has no VCF: the
  // search would end at its first position, so that position is not even copied.
  assert(!position.game_over());
  const int side = position.side_to_move();
  if (!any_cell(position.five_cells(side)) && !any_cell(position.four_cells(side))) {
    ThreatLine none;
    none.nodes = 1;
    return none;
  }
  start(position, limits);
  ThreatLine result;
  if (attack(limits.depth)) result.moves.assign(line_.rbegin(), line_.rend());
  result.ends_in_five = ends_in_five_;
  result.aborted = aborted_ && !result.win();
  result.nodes = nodes_;
  return result;
}

std::optional<Move> ThreatSolver::proven_move(uint64_t key) {
  const Entry& entry = entry_of(key);
  if (entry.hash == key && entry.kind == Entry::kWin) return entry.move;
  return std::nullopt;
}

bool ThreatSolver::over_budget() {
  ++nodes_;
  if (nodes_ > limits_.nodes) aborted_ = true;
  if (limits_.deadline_ns != 0 && nodes_ % kClockInterval == 1 && monotonic_ns() >= limits_.deadline_ns) {
    aborted_ = true;
  }
  return aborted_;
}

// The attacker, to move on board_, looks for a VCF of at most `depth` fours. On success
// line_ holds the line, last move first.
bool ThreatSolver::attack(int32_t depth) {
  if (aborted_ || over_budget()) return false;
  Board& board = *board_;
  const int attacker = board.side_to_move();
  const int defender = attacker ^ 1;
  const auto& own = codes_of(board, attacker);
  assert(threat_cells_match(board, attacker) && threat_cells_match(board, defender));

  // A five wins at once (the first in row-major order).
  const CellSet& own_fives = board.five_cells(attacker);
  for (size_t word = 0; word < own_fives.size(); ++word) {
    if (own_fives[word] == 0) continue;
    line_.push_back(move_at(static_cast<int>(64 * word) + std::countr_zero(own_fives[word])));
    ends_in_five_ = true;
    return true;
  }
  // This level's four moves go on top of fours_, and leave it on every return.
  const size_t first = fours_.size();
  const FoursMark truncate{fours_, first};
  const int defender_fives = count_up_to_two(board.five_cells(defender));
  if (defender_fives > 0) {
    // The defender's five point must be blocked: that is the only move, and it must be a four.
    if (defender_fives > 1) return false;
    int block = 0;
    for_each_cell(board.five_cells(defender), [&](int index) { block = index; });
    if (!(board.four_cells(attacker)[block / 64] & (uint64_t{1} << (block % 64)))) return false;
    fours_.push_back({move_at(block), 0});
  } else {
    for_each_cell(board.four_cells(attacker), [&](int index) {
      fours_.push_back({move_at(index), order_of(own[index])});
    });
  }
  const size_t last = fours_.size();
  if (depth == 0 || last == first) return false;

  const Entry& entry = entry_of(board.hash());
  if (entry.hash == board.hash() && entry.kind == Entry::kNoWin && entry.depth >= depth) return false;
  if (const std::optional<Move> won = proven_move(board.hash())) {
    for (size_t i = first; i < last; ++i) {
      if (fours_[i].move == *won) fours_[i].order = 1000;
    }
  }
  // Higher order first, ties in row-major order: a stable insertion sort, the lists being short.
  for (size_t i = first + 1; i < last; ++i) {
    const FourMove four = fours_[i];
    size_t j = i;
    for (; j > first && fours_[j - 1].order < four.order; --j) fours_[j] = fours_[j - 1];
    fours_[j] = four;
  }

  // This level's moves keep the codes they change here, so that their undos need no lookups.
  CodeRecord& four_record = records_[2 * static_cast<size_t>(depth)];
  CodeRecord& reply_record = records_[2 * static_cast<size_t>(depth) + 1];
  for (size_t i = first; i < last; ++i) {
    const Move move = fours_[i].move;  // fours_ may grow (and move) in the deeper levels
    if (!may_play(board, attacker, move)) continue;
    board.play_tentative(move, four_record);
    if (board.game_over()) {  // the last empty cell: a draw
      board.undo_tentative(move, four_record);
      continue;
    }
    // The four wins when no reply stops its fives, and goes on when exactly one does.
    const FivePoints points = five_points_through(board, attacker, move);
    const Replies replies = stopping_replies(board, points);
    bool win = points.count > 0 && replies.count == 0;
    if (replies.count == 1) {
      // The position after the reply: its table entry is fetched while the reply is played.
      const uint64_t next_hash =
          board.hash() ^ zobrist_keys().cell_keys[cell_index(replies.first.x, replies.first.y)][defender] ^ 1;
      __builtin_prefetch(&entry_of(next_hash));
      board.play_tentative(replies.first, reply_record);
      assert(board.hash() == next_hash);
      if (!board.game_over() && attack(depth - 1)) {
        line_.push_back(replies.first);
        win = true;
      }
      board.undo_tentative(replies.first, reply_record);
    }
    board.undo_tentative(move, four_record);
    if (win) {
      line_.push_back(move);
      entry_of(board.hash()) = {board.hash(), move, 0, Entry::kWin};
      return true;
    }
    if (aborted_) return false;
  }
  if (!aborted_) entry_of(board.hash()) = {board.hash(), Move{}, static_cast<int8_t>(depth), Entry::kNoWin};
  return false;
}

}  // namespace tovan::search
