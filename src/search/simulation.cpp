#include "search/simulation.h"

#include <algorithm>
#include <cassert>
#include <vector>

namespace tovan::search {

namespace {

// Spare boards a thread keeps at least before it reuses the oldest instead of allocating
// another: the more, the more new positions start from their parent's board.
constexpr size_t kSpareBoards = 16;

}  // namespace

std::optional<Leaf> descend(Node& root, const Board& root_board, std::vector<SpareBoard>& spare_boards,
                            int32_t threat_check_visits) {
  // The moves from the root to the current node, each read off its node: the board is
  // built only for a new position, after the selection.
  thread_local std::vector<Move> path;
  path.clear();
  Node* node = &root;
  Node* due_threat_check = nullptr;
  while (true) {
    const SelectResult step = node->select();
    if (threat_check_visits > 0 && node != &root && step.visits == static_cast<float>(threat_check_visits)) {
      due_threat_check = node;
    }
    switch (step.status) {
      case SelectResult::kCollision:
        return std::nullopt;
      case SelectResult::kTerminal:
        return Leaf{false, nullptr, step.slot, node, Move{-1, -1}, {}, nullptr, due_threat_check};
      case SelectResult::kDescend:
        node = node->get_child(step.slot);
        path.push_back(node->move());
        break;
      case SelectResult::kNewSlot: {
        std::unique_ptr<Board> board;
        const auto kept = std::find_if(spare_boards.begin(), spare_boards.end(),
                                       [node](const SpareBoard& spare) { return spare.position == node; });
        if (kept != spare_boards.end()) {
          board = std::move(kept->board);
          spare_boards.erase(kept);
        } else {
          if (spare_boards.size() < kSpareBoards) {
            board = std::make_unique<Board>(root_board);
          } else {
            board = std::move(spare_boards.front().board);
            spare_boards.erase(spare_boards.begin());
            *board = root_board;
          }
          // Only the last node's position needs its candidates, to name the new move; the
          // positions on the way to it leave theirs cleared (play then rebuilds everything
          // it derives afresh, so the new position is the same either way).
          for (size_t i = 0; i < path.size(); ++i) {
            board->play(path[i], i + 1 == path.size());
            assert(!board->game_over() && "a finished position is never descended through");
          }
        }
        assert(!board->game_over() && board->candidates().size() == static_cast<size_t>(node->candidate_count()));
        const Move move = board->candidates()[step.action];
        board->play(move);
        return Leaf{true, std::move(board), step.slot, node, move, {}, nullptr, due_threat_check};
      }
    }
  }
}

void play_path(const Node& node, Board& board) {
  thread_local std::vector<Move> path;
  path.clear();
  for (const Node* step = &node; step->parent() != nullptr; step = step->parent()) path.push_back(step->move());
  for (auto move = path.rbegin(); move != path.rend(); ++move) board.play(*move, false);
}

Node* back_up(const Leaf& leaf, eval::EvalResult* evaluation) {
  if (leaf.needs_evaluation) {
    const Board& board = *leaf.board;
    const Proof proof = board.game_over() ? proof_of_finished_game(board) : leaf.proof;
    const bool terminal = board.game_over() || proof.result != Proof::kNone;
    eval::EvalResult proven;
    if (leaf.proof.result != Proof::kNone) {
      proven.values[board.side_to_move()] = 1.0f;
      proven.values[board.side_to_move() ^ 1] = -1.0f;
    }
    leaf.node->set_child(leaf.slot, std::make_unique<Node>(leaf.slot, leaf.node, leaf.node->tree(),
                                                           evaluation ? std::move(*evaluation) : std::move(proven),
                                                           terminal, board.side_to_move(), proof, leaf.move));
  }
  Node* child = leaf.node->get_child(leaf.slot);
  NodeValue value = child->get_value();
  int32_t slot = leaf.slot;
  for (Node* node = leaf.node; node != nullptr; slot = node->index_in_parent(), node = node->parent()) {
    value.depth += 1.0f;
    node->backup(slot, value);
  }
  return child;
}

}  // namespace tovan::search
