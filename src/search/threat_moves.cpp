#include "search/threat_moves.h"

#include <algorithm>
#include <cstdlib>

#include "board/forbidden.h"
#include "board/patterns.h"

namespace tovan::search {
namespace {

bool any_five_left(const Board& board, int attacker, const FivePoints& points) {
  const auto& codes = codes_of(board, attacker);
  return std::any_of(points.moves.begin(), points.moves.begin() + points.count, [&](Move p) {
    return board.cell(p.x, p.y) == EMPTY && (codes[cell_index(p.x, p.y)] & kFiveLanes);
  });
}

}  // namespace

bool may_play(Board& board, int player, Move move) {
  return !(player == 0 && board.config().rule == Rule::Renju && forbidden_for_black(board, move.x, move.y));
}

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
  // The cells next to the threat's first move (its three's own cells and ends) refute it
  // most often: they go first.
  const Move first = threat.front();
  const auto distance = [first](Move m) { return std::max(std::abs(m.x - first.x), std::abs(m.y - first.y)); };
  std::stable_sort(replies.begin(), replies.end(), [&](Move a, Move b) { return distance(a) < distance(b); });
  for_each_cell(board.four_cells(defender), [&](int index) { add(index % kMaxSide, index / kMaxSide); });
  std::erase_if(replies, [&](Move m) { return !may_play(board, defender, m); });
  return replies;
}

bool line_still_wins(Board& board, const std::vector<Move>& line) {
  const int attacker = board.side_to_move();
  size_t played = 0;
  bool wins = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const Move move = line[i];
    if (board.cell(move.x, move.y) != EMPTY || (i % 2 == 0 && !may_play(board, attacker, move))) break;
    board.play_tentative(move);
    ++played;
    if (board.game_over()) {
      wins = board.winner() == attacker;
      break;
    }
    if (i % 2 == 1) continue;
    if (any_cell(board.five_cells(attacker ^ 1))) break;
    const FivePoints points = five_points_through(board, attacker, move);
    if (points.count == 0) break;
    const Replies replies = stopping_replies(board, points);
    if (replies.count == 0) {
      wins = true;
      break;
    }
    if (replies.count > 1 || i + 1 == line.size() || !(replies.first == line[i + 1])) break;
  }
  for (size_t i = played; i-- > 0;) board.undo_tentative(line[i]);
  return wins;
}

}  // namespace tovan::search
