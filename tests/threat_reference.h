// Victories by continuous fours, written from the rules alone: the win check and the Renju
// forbidden points of board_reference.h, no pattern code. A slow search decides whether a
// position holds one, and a checker judges a line that claims one; another checker judges
// a claimed victory by continuous threats against every reply, asking the claimant only
// for its moves.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "board_reference.h"

namespace tovan {

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

// Whether a line through `m` holds at least `count` stones of `colour` within four steps of
// it: a stone on m can only make a five with four of them, a four with three.
inline bool in_line_with(const BoardConfig& c, const CellArray& cells, Move m, int colour, int count) {
  for (int d = 0; d < 4; ++d) {
    int stones = 0;
    for (int k = -4; k <= 4; ++k) stones += k != 0 && state(c, cells, m.x + k * DX[d], m.y + k * DY[d]) == colour;
    if (stones >= count) return true;
  }
  return false;
}

// The empty cells where a stone of `colour` wins (a five is always allowed).
inline std::vector<Move> win_points(const BoardConfig& c, CellArray& cells, int colour) {
  std::vector<Move> points;
  for (int y = 0; y < c.height; ++y)
    for (int x = 0; x < c.width; ++x)
      if (cells[y * 20 + x] == EMPTY && in_line_with(c, cells, at(x, y), colour, 4) &&
          wins_with(c, cells, at(x, y), colour))
        points.push_back(at(x, y));
  return points;
}

// Whether (x, y) lies on one of the four lines through `p`, at most `reach` steps away.
inline bool on_line_near(Move p, int x, int y, int reach) {
  const int dx = std::abs(x - p.x), dy = std::abs(y - p.y);
  return std::max(dx, dy) <= reach && (dx == 0 || dy == 0 || dx == dy);
}

// The replies allowed to the defender of `colour` after which `colour` has no five to play.
// A stone of the defender takes win points away and adds none, so only the current ones,
// `fives`, are looked at again, and only a stone within five steps along the lines of each
// can stop them all.
inline std::vector<Move> stopping_replies(const BoardConfig& c, CellArray& cells, int colour,
                                          const std::vector<Move>& fives) {
  std::vector<Move> replies;
  for (int y = 0; y < c.height; ++y)
    for (int x = 0; x < c.width; ++x) {
      if (cells[y * 20 + x] != EMPTY ||
          !std::all_of(fives.begin(), fives.end(), [&](Move f) { return on_line_near(f, x, y, 5); }))
        continue;
      cells[y * 20 + x] = static_cast<int8_t>(other(colour));
      const bool stops = std::none_of(fives.begin(), fives.end(), [&](Move f) {
        return cells[f.y * 20 + f.x] == EMPTY && wins_with(c, cells, f, colour);
      });
      cells[y * 20 + x] = EMPTY;
      if (stops && may_play(c, cells, at(x, y), other(colour))) replies.push_back(at(x, y));
    }
  return replies;
}

// The win points of `colour` that its stone on `m` made: such a five runs along one of the
// lines through m, within four steps.
inline std::vector<Move> win_points_through(const BoardConfig& c, CellArray& cells, int colour, Move m) {
  std::vector<Move> points;
  for (int d = 0; d < 4; ++d)
    for (int k = -4; k <= 4; ++k) {
      const Move p = at(m.x + k * DX[d], m.y + k * DY[d]);
      if (state(c, cells, p.x, p.y) == EMPTY &&
          wins(line_at(c, cells, p.x, p.y, d, colour), line_class(c.rule, colour)))
        points.push_back(p);
    }
  return points;
}

// A win of `colour`, to move, by at most `depth` fours: its line as vcf_line_fault reads
// it, or none. Each four leaves the defender no five and one reply that stops every five of
// the attacker, or none. After such a reply, `block`, the attacker has no five and the
// defender's can only run through the block.
inline std::vector<Move> vcf_line(const BoardConfig& c, CellArray& cells, int colour, int depth,
                                  std::optional<Move> block = std::nullopt) {
  if (const std::vector<Move> fives = block ? std::vector<Move>{} : win_points(c, cells, colour); !fives.empty())
    return {fives[0]};
  const std::vector<Move> threats =
      block ? win_points_through(c, cells, other(colour), *block) : win_points(c, cells, other(colour));
  if (threats.size() > 1 || depth == 0) return {};
  for (int y = 0; y < c.height; ++y)
    for (int x = 0; x < c.width; ++x) {
      const Move m = at(x, y);
      if ((!threats.empty() && !(threats[0] == m)) || cells[y * 20 + x] != EMPTY ||
          !in_line_with(c, cells, m, colour, 3))
        continue;
      cells[y * 20 + x] = static_cast<int8_t>(colour);
      std::vector<Move> line;
      const std::vector<Move> fives = win_points_through(c, cells, colour, m);
      cells[y * 20 + x] = EMPTY;
      // A four; whether it is allowed is asked only now, being the slower question.
      if (!fives.empty() && may_play(c, cells, m, colour)) {
        cells[y * 20 + x] = static_cast<int8_t>(colour);
        const std::vector<Move> replies = stopping_replies(c, cells, colour, fives);
        if (replies.empty()) line = {m};
        if (replies.size() == 1) {
          cells[replies[0].y * 20 + replies[0].x] = static_cast<int8_t>(other(colour));
          line = vcf_line(c, cells, colour, depth - 1, replies[0]);
          if (!line.empty()) line.insert(line.begin(), {m, replies[0]});
          cells[replies[0].y * 20 + replies[0].x] = EMPTY;
        }
        cells[y * 20 + x] = EMPTY;
      }
      if (!line.empty()) return line;
    }
  return {};
}

inline bool has_vcf(const BoardConfig& c, CellArray& cells, int colour, int depth) {
  return !vcf_line(c, cells, colour, depth).empty();
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

// ---- Victories by continuous threats, judged move by move against every reply.

// The attacker's next move on `cells`, `colour` to move, as the judged player proposes it,
// with at most `threats` moves that make no four (threats such as open threes) before the
// five.
using MoveOracle = std::function<std::optional<Move>(const CellArray& cells, int colour, int threats)>;

// Whether `line`, a VCF of `colour` found on another position, wins after the defender's
// `reply`, the defender having had no five before it. Quicker than a new search, it looks
// for fives only through the moves just played: the attacker's four can only have made
// those through it, all of which the block must then stop, and the defender's can only
// run through its last stone.
inline bool line_holds(const BoardConfig& c, CellArray cells, int colour, const std::vector<Move>& line, Move reply) {
  for (size_t i = 0; i < line.size(); i += 2) {
    const Move m = line[i];
    if (!may_play(c, cells, m, colour)) return false;
    cells[m.y * 20 + m.x] = static_cast<int8_t>(colour);
    if (wins_at(c, cells, m.x, m.y)) return true;
    const std::vector<Move> fives = win_points_through(c, cells, colour, m);
    if (fives.empty() || !win_points_through(c, cells, other(colour), reply).empty()) return false;
    const std::vector<Move> replies = stopping_replies(c, cells, colour, fives);
    if (replies.empty()) return true;
    if (replies.size() > 1 || i + 1 == line.size() || !(replies[0] == line[i + 1])) return false;
    reply = line[i + 1];
    cells[reply.y * 20 + reply.x] = static_cast<int8_t>(other(colour));
  }
  return false;
}

// The fours `next` proposes from `cells`, each answered by the only reply that stops it, up
// to a five or a four no reply stops: a VCF to try with line_holds, or none.
inline std::vector<Move> proposed_vcf(const BoardConfig& c, CellArray cells, int colour, const MoveOracle& next,
                                      int fours) {
  std::vector<Move> line;
  for (int i = 0; i < fours; ++i) {
    const std::optional<Move> m = next(cells, colour, 0);
    if (!m || !may_play(c, cells, *m, colour)) return {};
    cells[m->y * 20 + m->x] = static_cast<int8_t>(colour);
    line.push_back(*m);
    if (wins_at(c, cells, m->x, m->y)) return line;
    const std::vector<Move> fives = win_points_through(c, cells, colour, *m);
    const std::vector<Move> replies = fives.empty() ? fives : stopping_replies(c, cells, colour, fives);
    if (!fives.empty() && replies.empty()) return line;
    if (replies.size() != 1) return {};
    cells[replies[0].y * 20 + replies[0].x] = static_cast<int8_t>(other(colour));
    line.push_back(replies[0]);
  }
  return {};
}

// What is wrong with `move` as a winning move of `colour` (to move) by continuous threats,
// or "" when it is one: it is allowed, and it makes a five, or the defender has no five and
// every reply allowed to it leaves `colour` a VCF (of at most `depth` fours, or as `next`
// proposes it) or, failing one, the move `next` proposes, judged the same way; all with at
// most `threats` moves that make no four (blocks of the defender's fives not counted), and
// within `plies` moves until the five.
inline std::string vct_fault(const BoardConfig& c, CellArray cells, int colour, Move move, int threats,
                             const MoveOracle& next, int plies = 61, int depth = 2) {
  const std::string label = move_text(move);
  if (!may_play(c, cells, move, colour)) return label + " not allowed";
  // The block of a defender's five costs no threat: the defender's four gained its tempo.
  const bool block = !win_points(c, cells, other(colour)).empty();
  cells[move.y * 20 + move.x] = static_cast<int8_t>(colour);
  if (wins_at(c, cells, move.x, move.y)) return "";
  const std::vector<Move> fives = win_points(c, cells, colour);
  if (fives.empty() && !block && threats-- == 0) return label + " one threat too many";
  if (plies < 3) return label + " no win within the plies";
  if (!win_points(c, cells, other(colour)).empty()) return label + " the defender has a five";
  const auto vcf = [&] {
    std::vector<Move> line = vcf_line(c, cells, colour, depth);
    return line.empty() ? proposed_vcf(c, cells, colour, next, plies / 2) : line;
  };
  const auto allowed = [&](Move reply) {  // asked with the reply on the board
    cells[reply.y * 20 + reply.x] = EMPTY;
    const bool allowed = may_play(c, cells, reply, other(colour));
    cells[reply.y * 20 + reply.x] = static_cast<int8_t>(other(colour));
    return allowed;
  };
  // The VCFs found so far, first the one the move threatens: one usually holds after a reply.
  std::vector<std::vector<Move>> lines{vcf()};
  // After a four, only the replies that stop its fives need a look.
  std::vector<Move> replies = fives.empty() ? std::vector<Move>{} : stopping_replies(c, cells, colour, fives);
  for (int y = 0; y < c.height && fives.empty(); ++y)
    for (int x = 0; x < c.width; ++x)
      if (cells[y * 20 + x] == EMPTY) replies.push_back(at(x, y));
  for (const Move reply : replies) {
    cells[reply.y * 20 + reply.x] = static_cast<int8_t>(other(colour));
    const auto holds = [&](const std::vector<Move>& line) {
      return !line.empty() && line_holds(c, cells, colour, line, reply);
    };
    std::string fault;
    // Whether the reply is allowed is asked only when no known line holds, being slower.
    if (!std::any_of(lines.begin(), lines.end(), holds) && allowed(reply) && !holds(lines.emplace_back(vcf()))) {
      const std::optional<Move> answer = next(cells, colour, threats);
      fault = answer ? vct_fault(c, cells, colour, *answer, threats, next, plies - 2, depth) : "no answer";
    }
    cells[reply.y * 20 + reply.x] = EMPTY;
    if (!fault.empty()) return label + " " + move_text(reply) + " " + fault;
  }
  return "";
}

}  // namespace ref

}  // namespace tovan
