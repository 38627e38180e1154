// One simulation of the search: a descent from the root to a new or terminal leaf, and
// the backup of the leaf's evaluation to the root.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "board/board.h"
#include "evaluation/eval_result.h"
#include "search/node.h"

namespace decision {

// A finished descent waiting for its evaluation.
struct Leaf {
  bool needs_evaluation;         // false for a visit of a finished game already in the tree
  std::unique_ptr<Board> board;  // the root position with the descent's moves played; null when no evaluation is needed
  int32_t slot;                  // slot chosen at the last node
  Node* node;                    // the last node of the descent
  Move move;                     // the move of that slot, when it needs an evaluation
  Proof proof;                   // the new position's result, when proven before its evaluation
};

// Descends from `root`, whose position is `root_board`; a leaf that needs an evaluation
// gets a copy of it with the descent's moves played, on a board taken from `spare_boards`
// when there is one. Returns no leaf when the descent collided with another thread's
// pending evaluation.
std::optional<Leaf> descend(Node& root, const Board& root_board, std::vector<std::unique_ptr<Board>>& spare_boards);

// Creates the leaf's child from its evaluation (when it needed one; the child takes over
// its policy) and backs its value up to the root. A leaf proven won needs no evaluation.
void back_up(const Leaf& leaf, eval::EvalResult* evaluation);

// What a position is proven to be before any search: a finished game is lost for the side
// to move, unless drawn; nothing is proven of a game in progress.
inline Proof proof_of_finished_game(const Board& board) {
  return board.game_over() && board.winner() != 2 ? Proof{Proof::kLoss, 0} : Proof{};
}

// Whether the leaf waits for the network.
inline bool needs_network(const Leaf& leaf) { return leaf.needs_evaluation && leaf.proof.result == Proof::kNone; }

}  // namespace decision
