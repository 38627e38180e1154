// One simulation of the search: a descent from the root to a new or terminal leaf, and
// the backup of the leaf's evaluation to the root.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "board/board.h"
#include "evaluation/eval_result.h"
#include "search/node.h"

namespace tovan::search {

// A finished descent waiting for its evaluation.
struct Leaf {
  bool needs_evaluation;         // false for a visit of a finished game already in the tree
  std::unique_ptr<Board> board;  // the root position with the descent's moves played; null when no evaluation is needed
  int32_t slot;                  // slot chosen at the last node
  Node* node;                    // the last node of the descent
  Move move;                     // the move of that slot, when it needs an evaluation
  Proof proof;                   // the new position's result, when proven before its evaluation
  Node* child = nullptr;         // after the backup: the node of the new position
  Node* due_threat_check = nullptr;  // a node on the way whose visits reached the check's count
};

// A search thread's board between its leaves, with the node whose position it holds
// (null: none known). A new position below that node is reached by one move from it.
struct SpareBoard {
  const Node* position;
  std::unique_ptr<Board> board;
};

// Descends from `root`, whose position is `root_board`. A leaf that needs an evaluation
// gets its position on a board from `spare_boards` (oldest first, kept in the order they
// were handed back): the one holding the last node's position when there is one, else a
// copy of the root's position with the descent's moves played. Returns no leaf when the
// descent collided with another thread's pending evaluation. The deepest node below the
// root whose visits this descent brought to `threat_check_visits` (0: none) is named in
// the leaf, for a threat search of its position.
std::optional<Leaf> descend(Node& root, const Board& root_board, std::vector<SpareBoard>& spare_boards,
                            int32_t threat_check_visits);

// The position of `node`: the root's with the moves from the root to the node played.
void play_path(const Node& node, Board& board);

// Creates the leaf's child from its evaluation (when it needed one; the child takes over
// its policy) and backs its value up to the root. A leaf proven won needs no evaluation.
// Returns the leaf's child.
Node* back_up(const Leaf& leaf, eval::EvalResult* evaluation);

// What a position is proven to be before any search: a finished game is lost for the side
// to move, unless drawn; nothing is proven of a game in progress.
inline Proof proof_of_finished_game(const Board& board) {
  return board.game_over() && board.winner() != 2 ? Proof{Proof::kLoss, 0} : Proof{};
}

// Whether the leaf waits for the network.
inline bool needs_network(const Leaf& leaf) { return leaf.needs_evaluation && leaf.proof.result == Proof::kNone; }

}  // namespace tovan::search
