// The threat solver's checks at a search's root, the same in a move decision and in
// self-play: the side to move's own win by fours or threats, played at once; and, when the
// opponent would win so if the side to move passed, the candidates that do not stop it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "board/board.h"
#include "search/mcts.h"
#include "search/threat_solver.h"

namespace tovan::search {

// The threat solver's part in a decision, from the [threats] keys.
struct ThreatSettings {
  bool enabled;
  int32_t max_fours;        // fours in a line, at most
  int32_t vct_threes;       // threats that are no four in a VCT, at most (0: VCFs only)
  int64_t root_nodes;       // per root check
  float root_time_share;    // of the move's time, for the root checks together
  int64_t tree_nodes;       // per VCF check of a new position of the tree (0: none)
  int32_t tree_vct_visits;  // visits at which a node's position is checked for a VCT (0: never)
  int64_t tree_vct_nodes;   // per VCT check in the tree
};

// The tree's checks by the threat settings (none when disabled).
TreeThreats tree_threats(const ThreatSettings& threats);

// The side to move's VCF, or else its VCT of at most `threes` threats, within `limits`.
ThreatLine find_own_win(ThreatSolver& solver, const Board& position, int32_t threes, const ThreatLimits& limits);

// The report line of a win found at the root: "DEBUG Win 1.00 | Proof <plies> | VCF <line>"
// (VCT for a line with threats that are no four).
std::string win_report(const ThreatLine& line);

// When the opponent would have a VCT of at most `threes` threats if the side to move of
// `position` (the search's root, not yet searched) passed, each root candidate, highest
// prior first, is checked for a win of the opponent's with as many threats within
// `limits` (and twice the positions the threat took; all checks together at most the
// limits' positions), and those after which it is found are excluded from the search; a
// VCF threat's own line is first replayed after each, which refutes without a search every
// candidate that leaves it standing. A candidate left unsolved (the limits ran out) stays.
// When every candidate is refuted, none is excluded and the one whose refutation needs the
// most fours is returned: the move that holds out longest. `say` gets the threat as a
// DEBUG line.
std::optional<Move> exclude_refuted(MCTS& search, const Board& position, int32_t threes, const ThreatLimits& limits,
                                    const std::function<void(const std::string&)>& say);

}  // namespace tovan::search
