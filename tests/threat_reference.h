// Victories by continuous fours, written from the rules alone: the win check and the Renju
// forbidden points of board_reference.h, no pattern code. A slow search decides whether a
// position holds one, and a checker judges a line that claims one.
#pragma once

#include <string>
#include <vector>

#include "board_reference.h"

namespace ref {

inline int other(int colour) { return colour == BLACK ? WHITE : BLACK; }

inline bool may_play(const BoardConfig& c, CellArray& cells, Move m, int colour) {
  if (state(c, cells, m.x, m.y) != EMPTY) return false;
  return !(c.rule == Rule::Renju && colour == BLACK && forbidden(c, cells, m.x, m.y));
}

inline bool wins_with(const BoardConfig& c, CellArray& cells, Move m, int colour) {
  cells[m.y * 20 + m.x] = static_cast<int8_t>(colour);
  const bool won = wins_at(c, cells, m.x, m.y);
  cells[m.y * 20 + m.x] = EMPTY;
  return won;
}

// The empty cells where a stone of `colour` wins (a five is always allowed).
inline std::vector<Move> win_points(const BoardConfig& c, CellArray& cells, int colour) {
  std::vector<Move> points;
  for (int y = 0; y < c.height; ++y)
    for (int x = 0; x < c.width; ++x)
      if (cells[y * 20 + x] == EMPTY && wins_with(c, cells, at(x, y), colour)) points.push_back(at(x, y));
  return points;
}

// The replies allowed to the defender of `colour` after which `colour` has no five to play.
// A stone of the defender takes win points away and adds none, so only the current ones,
// `fives`, are looked at again.
inline std::vector<Move> stopping_replies(const BoardConfig& c, CellArray& cells, int colour,
                                          const std::vector<Move>& fives) {
  std::vector<Move> replies;
  for (int y = 0; y < c.height; ++y)
    for (int x = 0; x < c.width; ++x) {
      if (!may_play(c, cells, at(x, y), other(colour))) continue;
      cells[y * 20 + x] = static_cast<int8_t>(other(colour));
      const bool stops = std::none_of(fives.begin(), fives.end(), [&](Move f) {
        return cells[f.y * 20 + f.x] == EMPTY && wins_with(c, cells, f, colour);
      });
      if (stops) replies.push_back(at(x, y));
      cells[y * 20 + x] = EMPTY;
    }
  return replies;
}

// The win points of `colour` on the lines through its stone on `m`, the only ones its
// stone can have added.
inline std::vector<Move> win_points_through(const BoardConfig& c, CellArray& cells, int colour, Move m) {
  std::vector<Move> points;
  for (int d = 0; d < 4; ++d)
    for (int k = -4; k <= 4; ++k) {
      const Move p = at(m.x + k * DX[d], m.y + k * DY[d]);
      if (state(c, cells, p.x, p.y) == EMPTY && std::find(points.begin(), points.end(), p) == points.end() &&
          wins_with(c, cells, p, colour))
        points.push_back(p);
    }
  return points;
}

// Whether `colour`, to move, wins by at most `depth` fours: each four leaves the defender
// no five and one reply that stops every five of the attacker, or none.
inline bool has_vcf(const BoardConfig& c, CellArray& cells, int colour, int depth) {
  if (!win_points(c, cells, colour).empty()) return true;
  const std::vector<Move> threats = win_points(c, cells, other(colour));
  if (threats.size() > 1 || depth == 0) return false;
  for (int y = 0; y < c.height; ++y)
    for (int x = 0; x < c.width; ++x) {
      const Move m = at(x, y);
      if ((!threats.empty() && !(threats[0] == m)) || !may_play(c, cells, m, colour)) continue;
      cells[y * 20 + x] = static_cast<int8_t>(colour);
      bool won = false;
      if (const std::vector<Move> fives = win_points_through(c, cells, colour, m); !fives.empty()) {
        const std::vector<Move> replies = stopping_replies(c, cells, colour, fives);
        won = replies.empty();
        if (replies.size() == 1) {
          cells[replies[0].y * 20 + replies[0].x] = static_cast<int8_t>(other(colour));
          won = has_vcf(c, cells, colour, depth - 1);
          cells[replies[0].y * 20 + replies[0].x] = EMPTY;
        }
      }
      cells[y * 20 + x] = EMPTY;
      if (won) return true;
    }
  return false;
}

// What is wrong with `move` as a threat of `colour`: "" when every allowed reply of the
// defender leaves `colour` a VCF of at most `depth` fours.
inline std::string threat_fault(const BoardConfig& c, CellArray cells, int colour, Move move, int depth) {
  if (!may_play(c, cells, move, colour)) return "not allowed";
  cells[move.y * 20 + move.x] = static_cast<int8_t>(colour);
  for (int y = 0; y < c.height; ++y)
    for (int x = 0; x < c.width; ++x) {
      if (!may_play(c, cells, at(x, y), other(colour))) continue;
      cells[y * 20 + x] = static_cast<int8_t>(other(colour));
      const bool holds = !wins_at(c, cells, x, y) && has_vcf(c, cells, colour, depth);
      cells[y * 20 + x] = EMPTY;
      if (!holds) return "the reply " + move_text(at(x, y)) + " stops it";
    }
  return "";
}

// What is wrong with `line` as a VCF for `colour` (attacker first), or "" when it is one:
// every attacker move is allowed and makes a five, or a four while the defender has no
// five to play; every reply is the only one that stops the attacker's fives; the line ends
// in a five or in a four that no reply stops.
inline std::string vcf_line_fault(const BoardConfig& c, CellArray cells, int colour, const std::vector<Move>& line) {
  std::vector<Move> replies;
  for (size_t i = 0; i < line.size(); ++i) {
    const Move m = line[i];
    const std::string label = "move " + std::to_string(i) + " " + move_text(m) + ": ";
    const bool attacker = i % 2 == 0;
    if (!may_play(c, cells, m, attacker ? colour : other(colour))) return label + "not allowed";
    if (!attacker && !(replies.size() == 1 && replies[0] == m)) return label + "not the only reply";
    cells[m.y * 20 + m.x] = static_cast<int8_t>(attacker ? colour : other(colour));
    if (!attacker) continue;
    if (wins_at(c, cells, m.x, m.y)) return i + 1 == line.size() ? "" : label + "a five before the end";
    const std::vector<Move> fives = win_points(c, cells, colour);
    if (fives.empty()) return label + "not a four";
    if (!win_points(c, cells, other(colour)).empty()) return label + "the defender has a five";
    replies = stopping_replies(c, cells, colour, fives);
    if (i + 1 == line.size()) return replies.empty() ? "" : label + "the reply " + move_text(replies[0]) + " stops it";
  }
  return "the line ends without a win";
}

}  // namespace ref
