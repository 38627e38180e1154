#include "search/threat_solver.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstddef>

#include "board/forbidden.h"
#include "board/pattern_codes.h"
#include "board/patterns.h"
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

struct FourMove {
  Move move;
  int32_t order;  // higher first
};

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

// The attacker's five points made by its stone on `move`: they lie on its four lines.
std::vector<Move> five_points_through(const Board& board, int attacker, Move move) {
  const auto& codes = codes_of(board, attacker);
  std::vector<Move> points;
  for (int d = 0; d < 4; ++d) {
    for (int k = -4; k <= 4; ++k) {
      const int x = move.x + k * DX[d];
      const int y = move.y + k * DY[d];
      if (k == 0 || !board.on_board(x, y) || !(codes[cell_index(x, y)] & kFiveLanes)) continue;
      const Move point{static_cast<int8_t>(x), static_cast<int8_t>(y)};
      if (std::find(points.begin(), points.end(), point) == points.end()) points.push_back(point);
    }
  }
  return points;
}

bool any_five_left(const Board& board, int attacker, const std::vector<Move>& points) {
  const auto& codes = codes_of(board, attacker);
  return std::any_of(points.begin(), points.end(),
                     [&](Move p) { return board.cell(p.x, p.y) == EMPTY && (codes[cell_index(p.x, p.y)] & kFiveLanes); });
}

// The defender's replies (to move on `board`) that leave the attacker none of its five
// points. A five point can only be taken, except under Caro, where a stone just beyond a
// five's end can also close it at both ends.
std::vector<Move> stopping_replies(Board& board, const std::vector<Move>& points) {
  const int defender = board.side_to_move();
  std::vector<Move> replies;
  if (board.config().rule != Rule::StandardCaro) {
    if (points.size() == 1 && may_play(board, defender, points[0])) replies.push_back(points[0]);
    return replies;
  }
  for (const Move point : points) {
    for (int d = 0; d < 4; ++d) {
      for (int k = -5; k <= 5; ++k) {
        const int x = point.x + k * DX[d];
        const int y = point.y + k * DY[d];
        const Move reply{static_cast<int8_t>(x), static_cast<int8_t>(y)};
        if (!board.on_board(x, y) || board.cell(x, y) != EMPTY ||
            std::find(replies.begin(), replies.end(), reply) != replies.end()) {
          continue;
        }
        board.play_tentative(reply);
        const bool stops = !board.game_over() && !any_five_left(board, defender ^ 1, points);
        board.undo_tentative(reply);
        if (stops) replies.push_back(reply);
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
  const auto& fours = codes_of(board, defender);
  for (int y = 0; y < board.config().height; ++y) {
    for (int x = 0; x < board.config().width; ++x) {
      if (fours[cell_index(x, y)] & kFourLanes) add(x, y);
    }
  }
  return replies;
}

}  // namespace

ThreatSolver::ThreatSolver(int32_t table_bits)
    : table_(size_t{1} << table_bits), mask_((uint64_t{1} << table_bits) - 1) {}

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
  nodes_ = 0;
  aborted_ = false;
  line_.clear();
  ends_in_five_ = false;
}

ThreatLine ThreatSolver::find_vcf(const Board& position, const ThreatLimits& limits) {
  // Without a five point or a four move of its own the side to move has no VCF: the
  // search would end at its first position, so that position is not even copied.
  assert(!position.game_over());
  uint64_t threats = 0;
  for (const uint64_t code : codes_of(position, position.side_to_move())) threats |= code;
  if ((threats & (kFiveLanes | kFourLanes)) == 0) {
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
  const auto& theirs = codes_of(board, defender);

  // One pass: a five wins at once; the defender's five points must be blocked; the rest
  // are the four moves.
  std::vector<FourMove> fours;
  int32_t defender_fives = 0;
  Move block{};
  const int width = board.config().width;
  for (int y = 0; y < board.config().height; ++y) {
    // A row holding none of these is passed over after one branch-free pass.
    uint64_t any = 0;
    for (int index = cell_index(0, y); index < cell_index(width, y); ++index) {
      any |= (own[index] & (kFiveLanes | kFourLanes)) | (theirs[index] & kFiveLanes);
    }
    if (any == 0) continue;
    for (int x = 0; x < width; ++x) {
      const int index = cell_index(x, y);
      const Move move{static_cast<int8_t>(x), static_cast<int8_t>(y)};
      if (own[index] & kFiveLanes) {
        line_.push_back(move);
        ends_in_five_ = true;
        return true;
      }
      if (theirs[index] & kFiveLanes) {
        ++defender_fives;
        block = move;
      }
      if (own[index] & kFourLanes) fours.push_back({move, order_of(own[index])});
    }
  }
  if (defender_fives > 0) {
    // The block is the only move, and it must be a four.
    const bool block_is_four = std::any_of(fours.begin(), fours.end(), [&](const FourMove& f) { return f.move == block; });
    if (defender_fives > 1 || !block_is_four) return false;
    fours = {{block, 0}};
  }
  if (depth == 0 || fours.empty()) return false;

  const Entry& entry = entry_of(board.hash());
  if (entry.hash == board.hash()) {
    if (entry.kind == Entry::kNoWin && entry.depth >= depth) return false;
    if (entry.kind == Entry::kWin) {
      for (FourMove& four : fours) {
        if (four.move == entry.move) four.order = 1000;
      }
    }
  }
  std::stable_sort(fours.begin(), fours.end(), [](const FourMove& a, const FourMove& b) { return a.order > b.order; });

  for (const FourMove& four : fours) {
    if (!may_play(board, attacker, four.move)) continue;
    board.play_tentative(four.move);
    if (board.game_over()) {  // the last empty cell: a draw
      board.undo_tentative(four.move);
      continue;
    }
    // The four wins when no reply stops its fives, and goes on when exactly one does.
    const std::vector<Move> points = five_points_through(board, attacker, four.move);
    const std::vector<Move> replies = stopping_replies(board, points);
    bool win = !points.empty() && replies.empty();
    if (replies.size() == 1) {
      board.play_tentative(replies[0]);
      if (!board.game_over() && attack(depth - 1)) {
        line_.push_back(replies[0]);
        win = true;
      }
      board.undo_tentative(replies[0]);
    }
    board.undo_tentative(four.move);
    if (win) {
      line_.push_back(four.move);
      entry_of(board.hash()) = {board.hash(), four.move, 0, Entry::kWin};
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
