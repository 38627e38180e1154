// Victory by continuous fours (VCF): a win for one side by a run of fours, each answered
// by the defender's only block, that ends in a five or in a four the defender cannot
// stop (two five points, or under Renju a five point where Black may not play); and the
// victory by continuous threats (VCT) built on it, threat-space search over threes.
//
// The search is depth-first over the attacker's four moves, read off the board's pattern
// codes, on a private copy of the position. When the defender already threatens a five,
// the attacker's only move is the block, and it must be a four itself. A transposition
// table, kept between searches, remembers positions proven to have no VCF within a
// number of fours and the winning four of positions proven won, and the same of VCTs
// within a number of threats.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "board/board.h"

namespace tovan::search {

struct ThreatLimits {
  int64_t nodes;        // attacker positions searched, at most
  int32_t depth;        // fours in a line, at most
  int64_t deadline_ns;  // on the monotonic clock; 0 for none
};

struct ThreatLine {
  // Attacker, defender, attacker, …, attacker: empty when no win was found (within the
  // limits). The last move makes a five, or a four that no block stops.
  std::vector<Move> moves;
  bool ends_in_five = false;
  int32_t threats = 0;   // threats in the line that are no four: 0 for a VCF
  bool aborted = false;  // the limits ran out before an answer
  int64_t nodes = 0;     // attacker and defender positions searched

  bool win() const { return !moves.empty(); }
  // Moves until the five stands: the line, and a block and the five when it ends in a four.
  int32_t plies() const { return static_cast<int32_t>(moves.size()) + (ends_in_five ? 0 : 2); }
};

class ThreatSolver {
 public:
  // A transposition table of 2^table_bits entries.
  explicit ThreatSolver(int32_t table_bits);
  ~ThreatSolver();

  // A VCF for the side to move of `position`, which must not be finished.
  ThreatLine find_vcf(const Board& position, const ThreatLimits& limits);

  // A victory by continuous threats (VCT) for the side to move of `position`: a VCF, or a
  // threat that is no four (an open three, mostly: a move after which the attacker would
  // have a VCF of one or two fours if the defender passed) after which every defence still
  // leaves a VCT, at most `threes` threats deep. A threat fails at once when the defender
  // has a VCF of its own; its defences are the cells that could change the VCF it makes
  // and every four of the defender's, whose block costs the attacker no threat. Shorter
  // wins are looked for first (one threat, then two, ...). A win is only ever reported
  // when proven; its line follows the defence that took the longest to refute.
  // `limits.depth` bounds the fours of every VCF searched, and the threats and blocks of
  // each stretch of the line between positions proven before.
  ThreatLine find_vct(const Board& position, const ThreatLimits& limits, int32_t threes);

  static int64_t table_bytes(int32_t table_bits);

 private:
  // One position's verdict, by its hash.
  struct Entry {
    enum Kind : uint8_t { kEmpty, kNoWin, kWin };
    uint64_t hash = 0;
    Move move{};       // the winning four, for kWin
    int8_t depth = 0;  // for kNoWin: no VCF within this many fours
    Kind kind = kEmpty;
  };

  // A four move of the attacker's and its rank in the search order.
  struct FourMove {
    Move move;
    int32_t order;  // higher first
  };

  // Takes fours_ back to the size it had when made: a level's moves go on top of it and
  // leave it on every return.
  struct FoursMark {
    std::vector<FourMove>& fours;
    size_t size;
    ~FoursMark() { fours.resize(size); }
  };

  void start(const Board& position, const ThreatLimits& limits);
  bool attack(int32_t depth);
  // The VCT search (vct_search.cpp): the attacker to move, with `threes` threats that are
  // no four and `moves` attacker moves left; the defender to move after a threat.
  bool attack_with_threats(int32_t threes, int32_t moves);
  bool defend(int32_t threes, int32_t moves);
  bool over_budget();
  Entry& entry_of(uint64_t hash) { return table_[hash & mask_]; }
  // The winning move the table holds for `key`.
  std::optional<Move> proven_move(uint64_t key);

  std::vector<Entry> table_;
  uint64_t mask_;
  std::unique_ptr<Board> board_;  // the searched copy
  ThreatLimits limits_{};
  int64_t nodes_ = 0;
  bool aborted_ = false;
  bool ends_in_five_ = false;
  bool line_cut_ = false;            // the VCT line stops at a position proven won before
  std::vector<Move> line_;           // the winning line, last move first, while the search unwinds
  std::vector<FourMove> fours_;      // the four moves of every level of the search, deepest last
  std::vector<CodeRecord> records_;  // by depth, two per level: the four's and the reply's
};

}  // namespace tovan::search
