#include "search/threat_solver.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cstddef>

#include "board/forbidden.h"
#include "board/pattern_codes.h"
#include "board/patterns.h"
#include "board/zobrist.h"
#include "search/clock.h"

namespace decision {
namespace {

constexpr uint64_t kFiveLanes = in_every_lane(kFive);
constexpr uint64_t kFourLanes = in_every_lane(kFour | kStraightFour | kDoubleFour);
constexpr uint64_t kThreatLanes = in_every_lane(kFour | kStraightFour | kDoubleFour | kOpenThree | kThree);

// Marks the table entries of VCT results apart from those of VCF results.
constexpr uint64_t kThreatKey = 0x9E3779B97F4A7C15ULL;

// The clock is read once per this many nodes.
constexpr int64_t kClockInterval = 256;

const std::array<uint64_t, kCellCount>& codes_of(const Board& board, int player) {
  return player == 0 ? board.black_codes() : board.white_codes();
}

bool may_play(Board& board, int player, Move move) {
  return !(player == 0 && board.config().rule == Rule::Renju && forbidden_for_black(board, move.x, move.y));
}

// A four move ranks by the lanes in which it also builds threats, and a straight four (or
// two fours in one line) comes first.
int32_t order_of(uint64_t code) {
  int32_t lanes = 0;
  for (int d = 0; d < 4; ++d) lanes += (code_lane(code, d) & code_lane(kThreatLanes, 0)) != 0;
  return lanes + ((code & in_every_lane(kStraightFour | kDoubleFour)) ? 8 : 0);
}

// The move on the cell of index `index`.
Move move_at(int index) { return {static_cast<int8_t>(index % kMaxSide), static_cast<int8_t>(index / kMaxSide)}; }

// Calls visit(index) for every cell of `cells`, in index order (row-major).
template <typename Visit>
void for_each_cell(const CellSet& cells, Visit&& visit) {
  for (size_t word = 0; word < cells.size(); ++word) {
    for (uint64_t bits = cells[word]; bits != 0; bits &= bits - 1) {
      visit(static_cast<int>(64 * word) + std::countr_zero(bits));
    }
  }
}

bool any_cell(const CellSet& cells) {
  uint64_t any = 0;
  for (const uint64_t word : cells) any |= word;
  return any != 0;
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

// The attacker's five points made by its stone on a move: they lie on its four lines, at
// most eight on each.
struct FivePoints {
  std::array<Move, 32> moves;
  int count = 0;
};

FivePoints five_points_through(const Board& board, int attacker, Move move) {
  const auto& codes = codes_of(board, attacker);
  FivePoints points;
  for (int d = 0; d < 4; ++d) {
    for (int k = -4; k <= 4; ++k) {
      const int x = move.x + k * DX[d];
      const int y = move.y + k * DY[d];
      if (k == 0 || !board.on_board(x, y) || !(codes[cell_index(x, y)] & kFiveLanes)) continue;
      points.moves[points.count++] = {static_cast<int8_t>(x), static_cast<int8_t>(y)};
    }
  }
  return points;
}

bool any_five_left(const Board& board, int attacker, const FivePoints& points) {
  const auto& codes = codes_of(board, attacker);
  return std::any_of(points.moves.begin(), points.moves.begin() + points.count, [&](Move p) {
    return board.cell(p.x, p.y) == EMPTY && (codes[cell_index(p.x, p.y)] & kFiveLanes);
  });
}

// How many of the defender's replies (to move on `board`) leave the attacker none of its
// five points, counted up to two, and the first of them. A five point can only be taken,
// except under Caro, where a stone just beyond a five's end can also close it at both ends.
struct Replies {
  Move first{};
  int count = 0;  // 0, 1, or 2 for two or more
};

Replies stopping_replies(Board& board, const FivePoints& points) {
  const int defender = board.side_to_move();
  Replies replies;
  if (board.config().rule != Rule::StandardCaro) {
    if (points.count == 1 && may_play(board, defender, points.moves[0])) replies = {points.moves[0], 1};
    return replies;
  }
  for (int i = 0; i < points.count; ++i) {
    const Move point = points.moves[i];
    for (int d = 0; d < 4; ++d) {
      for (int k = -5; k <= 5; ++k) {
        const int x = point.x + k * DX[d];
        const int y = point.y + k * DY[d];
        const Move reply{static_cast<int8_t>(x), static_cast<int8_t>(y)};
        if (!board.on_board(x, y) || board.cell(x, y) != EMPTY || (replies.count == 1 && reply == replies.first)) {
          continue;
        }
        board.play_tentative(reply);
        const bool stops = !board.game_over() && !any_five_left(board, defender ^ 1, points);
        board.undo_tentative(reply);
        if (!stops) continue;
        if (replies.count == 1) return {replies.first, 2};
        replies = {reply, 1};
      }
    }
  }
  return replies;
}

// The defender's replies (to move on `board`) that could stop the attacker's VCF `threat`:
// the empty cells within five steps along the lines of its moves (where a stone can change
// a four, its five points, the ends of its fives or a block's counter-four), and the
// defender's own fours anywhere.
std::vector<Move> replies_to(Board& board, const std::vector<Move>& threat) {
  const int defender = board.side_to_move();
  std::array<uint8_t, kCellCount> taken{};
  std::vector<Move> replies;
  const auto add = [&](int x, int y) {
    if (!board.on_board(x, y) || board.cell(x, y) != EMPTY || taken[cell_index(x, y)]) return;
    taken[cell_index(x, y)] = 1;
    replies.push_back({static_cast<int8_t>(x), static_cast<int8_t>(y)});
  };
  for (const Move move : threat) {
    for (int d = 0; d < 4; ++d) {
      for (int k = -5; k <= 5; ++k) add(move.x + k * DX[d], move.y + k * DY[d]);
    }
  }
  for_each_cell(board.four_cells(defender), [&](int index) { add(index % kMaxSide, index / kMaxSide); });
  return replies;
}

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
  result.nodes = nodes_;
  return result;
}

ThreatLine ThreatSolver::find_vct(const Board& position, const ThreatLimits& limits, int32_t threes) {
  start(position, limits);
  ThreatLine result;
  if (position.config().rule != Rule::Renju && threaten(threes)) result.moves.assign(line_.rbegin(), line_.rend());
  result.ends_in_five = ends_in_five_;
  result.nodes = nodes_;
  return result;
}

bool ThreatSolver::over_budget() {
  ++nodes_;
  if (nodes_ > limits_.nodes) aborted_ = true;
  if (limits_.deadline_ns != 0 && nodes_ % kClockInterval == 0 && monotonic_ns() >= limits_.deadline_ns) {
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
  struct Truncate {
    std::vector<FourMove>& fours;
    size_t size;
    ~Truncate() { fours.resize(size); }
  } truncate{fours_, first};
  int32_t defender_fives = 0;  // a word holding two or more counts two
  for (const uint64_t word : board.five_cells(defender)) defender_fives += word == 0 ? 0 : (word & (word - 1)) ? 2 : 1;
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
  if (entry.hash == board.hash()) {
    if (entry.kind == Entry::kNoWin && entry.depth >= depth) return false;
    if (entry.kind == Entry::kWin) {
      for (size_t i = first; i < last; ++i) {
        if (fours_[i].move == entry.move) fours_[i].order = 1000;
      }
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

// The attacker, to move on board_, looks for a VCT of at most `threes` moves that are not
// fours. On success line_ holds the line, last move first, above what it held before.
bool ThreatSolver::threaten(int32_t threes) {
  const size_t mark = line_.size();
  if (attack(limits_.depth)) return true;
  line_.resize(mark);
  if (aborted_ || threes == 0) return false;
  Board& board = *board_;
  const int attacker = board.side_to_move();
  const auto& own = codes_of(board, attacker);
  const auto& theirs = codes_of(board, attacker ^ 1);
  std::vector<Move> threats;
  for (int y = 0; y < board.config().height; ++y) {
    for (int x = 0; x < board.config().width; ++x) {
      const int index = cell_index(x, y);
      // A five of the defender's to block: no VCF above means no tempo is left.
      if (theirs[index] & kFiveLanes) return false;
      if (own[index] & kThreatLanes) threats.push_back({static_cast<int8_t>(x), static_cast<int8_t>(y)});
    }
  }
  const uint64_t key = board.hash() ^ kThreatKey;
  if (const Entry& entry = entry_of(key); entry.hash == key && entry.kind == Entry::kNoWin && entry.depth >= threes) {
    return false;
  }

  for (const Move move : threats) {
    board.play_tentative(move);
    if (board.game_over()) {
      board.undo_tentative(move);
      continue;
    }
    // What the move threatens: the VCF it would leave if the defender passed.
    board.pass_turn();
    bool won = attack(limits_.depth);
    const std::vector<Move> threat(line_.begin() + static_cast<std::ptrdiff_t>(mark), line_.end());
    line_.resize(mark);
    board.pass_turn();
    if (won) {
      for (const Move reply : replies_to(board, threat)) {
        board.play_tentative(reply);
        won = !board.game_over() && threaten(threes - 1);
        line_.resize(mark);
        board.undo_tentative(reply);
        if (!won) break;
      }
    }
    board.undo_tentative(move);
    if (won) {
      line_.insert(line_.end(), threat.begin(), threat.end());
      line_.push_back(move);
      ends_in_five_ = false;
      return true;
    }
    if (aborted_) return false;
  }
  if (!aborted_) entry_of(key) = {key, Move{}, static_cast<int8_t>(threes), Entry::kNoWin};
  return false;
}

}  // namespace decision
