// The "DEBUG Win ... | Draw ... | Visits ... | Depth ... | Time ..." line that tells the
// manager how the search stands, with "| Proof n" when the root is proven won or lost in
// n moves, and the principal variation when debug.print_move asks.
#pragma once

#include <cstdint>
#include <string>

#include "board/board.h"
#include "search/mcts.h"

namespace tovan::protocol {

struct ReportContext {
  search::MCTS& search;
  Board& board;  // the game board, at the searched position; the variation is played and taken back on it
  const int64_t& command_start;
  bool with_variation;  // the principal variation is added to the line
};

void print_search_report(const ReportContext& context);

// The report line itself, with `elapsed_ns` since the command was read.
std::string search_report_line(const ReportContext& context, int64_t elapsed_ns);

}  // namespace tovan::protocol
