#include "search/simulation.h"

namespace decision {

std::optional<Leaf> descend(Node& root, const Board& root_board) {
  auto board = std::make_unique<Board>(root_board);
  Node* node = &root;
  while (true) {
    const SelectResult step = node->select();
    if (step.status == SelectResult::kCollision) return std::nullopt;
    board->play(board->candidates()[step.action]);
    if (step.status != SelectResult::kDescend) return Leaf{step.needs_evaluation, std::move(board), step.slot, node, {}};
    node = node->get_child(step.slot);
  }
}

void back_up(const Leaf& leaf, const eval::EvalResult* evaluation) {
  if (leaf.needs_evaluation) {
    const Board& board = *leaf.board;
    const Proof proof = board.game_over() ? proof_of_finished_game(board) : leaf.proof;
    const bool terminal = board.game_over() || proof.result != Proof::kNone;
    eval::EvalResult proven;
    if (leaf.proof.result != Proof::kNone) {
      proven.values[board.side_to_move()] = 1.0f;
      proven.values[board.side_to_move() ^ 1] = -1.0f;
    }
    leaf.node->set_child(leaf.slot, std::make_unique<Node>(leaf.slot, leaf.node, leaf.node->constants(),
                                                           evaluation ? *evaluation : proven, terminal,
                                                           board.side_to_move(), proof));
  }
  NodeValue value = leaf.node->get_child(leaf.slot)->get_value();
  int32_t slot = leaf.slot;
  for (Node* node = leaf.node; node != nullptr; slot = node->index_in_parent(), node = node->parent()) {
    value.depth += 1.0f;
    node->backup(slot, value);
  }
}

}  // namespace decision
