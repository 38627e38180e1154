#include "protocol/search_report.h"

#include <cmath>
#include <sstream>

#include "app/output.h"
#include "search/clock.h"

namespace tovan::protocol {

namespace {

// The best line from `node`, each move as "(row, column)", played on the board and taken
// back: the proof's moves where the node is proven won, else the most visited. It ends at
// a node with one visit or less, or at a terminal node.
std::string principal_variation(Board& board, search::Node& node) {
  if (node.terminal() || node.get_visits() <= 1.0f) return "";
  const int32_t winning = node.get_quickest_win_action();
  const int32_t action = winning != -1 ? winning : node.get_best_action();
  if (action < 0) return "";
  const Move move = board.candidates()[action];
  board.play(move);
  search::Node* child = node.child_of_action(action);
  const std::string rest = child ? principal_variation(board, *child) : "";
  board.undo(move, true);
  return rest.empty() ? move_text(move) : move_text(move) + " " + rest;
}

}  // namespace

std::string search_report_line(const ReportContext& context, int64_t elapsed_ns) {
  search::Node& root = *context.search.root();
  const search::NodeValue value = root.get_value();
  const float visits = root.get_visits();
  const int side = context.board.side_to_move();

  std::ostringstream line;
  line << "DEBUG Win " << std::round((value.values[side] * 0.5 + 0.5) * 100.0) / 100.0 << " | Draw "
       << std::round(value.draw_rate * 100.0f) / 100.0f << " | Visits " << static_cast<int32_t>(visits) << " | Depth "
       << std::round(value.depth * 10.0f) / 10.0f << " | Time "
       << std::round(static_cast<double>(elapsed_ns) / 1e8) / 10.0;
  if (const search::Proof proof = root.proof(); proof.result != search::Proof::kNone)
    line << " | Proof " << proof.plies;
  if (context.with_variation && visits > 1.0f) line << " | Move " << principal_variation(context.board, root);
  return line.str();
}

void print_search_report(const ReportContext& context) {
  app::say(search_report_line(context, search::monotonic_ns() - context.command_start));
}

}  // namespace tovan::protocol
