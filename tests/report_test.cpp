// The search report line: rounding of each field, the side it speaks for, and the
// principal variation (row first, cut at a finished game, the board left as it was).
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "app/search_report.h"

namespace {

Move at(int x, int y) { return Move{static_cast<int8_t>(x), static_cast<int8_t>(y)}; }

// Stones drawn along a line from (x, y) in steps of (dx, dy): 'X' Black, 'O' White, '.' skipped.
struct Stones {
  std::string text;
  int x, y, dx, dy;
};

Board position(const BoardConfig& config, const std::vector<Stones>& lines, int32_t side_to_move) {
  CellArray cells{};
  int32_t count = 0;
  for (const Stones& line : lines) {
    for (size_t i = 0; i < line.text.size(); ++i) {
      if (line.text[i] == '.') continue;
      cells[cell_index(line.x + static_cast<int>(i) * line.dx, line.y + static_cast<int>(i) * line.dy)] =
          line.text[i] == 'X' ? BLACK : WHITE;
      ++count;
    }
  }
  return Board(config, count, cells, side_to_move);
}

NodeConfig search_constants() { return make_node_config(1.6f, 1.0f, 0.1f, 0.3f); }

struct Rig {
  Rig(int size, const std::string& model)
      : evaluator(1000, size, size, Rule::Freestyle, 0, 0, 16, 1, "cpu", 0, 0, "", ""),
        search(nullptr, false, 1, 1, 8, {&evaluator}) {
    evaluator.load_model(model);
  }
  void search_position(const Board& board, float visits) {
    search.set_root(constants, board, 1.0f, false, false);
    search.search({visits, 60.0f, false, 0.0f, 0.0f, 0.0f, 0.0f});
  }

  eval::Evaluator evaluator;
  decision::MCTS search;
  NodeConfig constants = search_constants();
  int64_t command_start = 0;
};

// 9 x 9, ten black stones and no white one, candidates within one cell: 26 of them.
// The test network values the position (own stones - opponent stones) / 81 for the side
// to move and gives 26 / 81 as the draw rate.
Board unbalanced(int32_t side_to_move) {
  return position({Rule::Freestyle, 9, 9, 1, 1}, {{"X.X.X.X.X", 0, 0, 1, 0}, {"X.X.X.X.X", 0, 8, 1, 0}}, side_to_move);
}

TEST(SearchReportLine, RoundsEveryFieldForTheSideToMove) {
  Rig rig(9, TEST_MODEL_DIR "/linear40.onnx");
  Board black = unbalanced(0);
  ASSERT_EQ(black.candidates.size(), 26u);
  rig.search.set_root(rig.constants, black, 1.0f, false, false);
  const ReportContext context{rig.search, black, rig.command_start, false};
  const ReportContext with_variation{rig.search, black, rig.command_start, true};
  // Win (10/81) * 0.5 + 0.5 = 0.5617, draw 0.321; a root of one visit has no variation.
  const std::string fields = "DEBUG Win 0.56 | Draw 0.32 | Visits 1 | Depth 0 | Time ";
  EXPECT_EQ(search_report_line(context, 2'960'000'000), fields + "3");
  EXPECT_EQ(search_report_line(with_variation, 2'960'000'000), fields + "3");
  EXPECT_EQ(search_report_line(with_variation, 40'000'000), fields + "0");
  EXPECT_EQ(search_report_line(context, 1'340'000'000), fields + "1.3");

  Board white = unbalanced(1);
  rig.search.set_root(rig.constants, white, 1.0f, false, false);
  const ReportContext white_context{rig.search, white, rig.command_start, true};
  EXPECT_EQ(search_report_line(white_context, 0), "DEBUG Win 0.44 | Draw 0.32 | Visits 1 | Depth 0 | Time 0");
}

// The moves of " | Move (r, c) (r, c) ..." at the end of a report line.
std::vector<Move> variation_of(const std::string& line) {
  const size_t start = line.find(" | Move ");
  EXPECT_NE(start, std::string::npos) << line;
  if (start == std::string::npos) return {};
  const std::string tail = line.substr(start + 8);
  EXPECT_TRUE(std::regex_match(tail, std::regex(R"(\(\d+, \d+\)( \(\d+, \d+\))*)"))) << line;
  std::vector<Move> moves;
  const std::regex move(R"(\((\d+), (\d+)\))");
  for (auto it = std::sregex_iterator(tail.begin(), tail.end(), move); it != std::sregex_iterator(); ++it) {
    moves.push_back(at(std::stoi((*it)[2]), std::stoi((*it)[1])));
  }
  return moves;
}

TEST(SearchReportLine, VariationEndsWithTheWinningMove) {
  Rig rig(15, SHIPPED_MODEL_DIR "/freestyle.onnx");
  // Black's four on row 10 can only be completed at column 7: "(10, 7)", row first.
  Board board = position({Rule::Freestyle, 15, 15, 2, 4}, {{"OXXXX", 2, 10, 1, 0}, {"O.O.O", 5, 3, 1, 0}}, 0);
  const uint64_t hash = board.hash;
  rig.search_position(board, 200.0f);
  const std::string line = search_report_line({rig.search, board, rig.command_start, true}, 0);
  EXPECT_TRUE(line.ends_with(" | Move (10, 7)")) << line;
  EXPECT_EQ(board.hash, hash);
  EXPECT_FALSE(board.game_over);
  EXPECT_EQ(board.cell(7, 10), EMPTY);
}

TEST(SearchReportLine, VariationIsALineOfPlayableMovesAndLeavesTheBoard) {
  Rig rig(15, SHIPPED_MODEL_DIR "/freestyle.onnx");
  Board board = position({Rule::Freestyle, 15, 15, 2, 4}, {{"XO", 7, 7, 1, 0}, {"X", 7, 8, 1, 0}}, 1);
  const Board before = board;
  rig.search_position(board, 300.0f);
  const std::string line = search_report_line({rig.search, board, rig.command_start, true}, 0);
  std::smatch fields;
  ASSERT_TRUE(std::regex_search(line, fields,
                                std::regex(R"(^DEBUG Win [01](\.\d\d?)? \| Draw [01](\.\d\d?)? \| )"
                                           R"(Visits (\d+) \| Depth (\d+(\.\d)?) \| Time 0 \| Move )")))
      << line;
  EXPECT_EQ(std::stoi(fields[3]), static_cast<int>(rig.search.root()->get_visits()));
  EXPECT_GE(std::stod(fields[4]), 1.0);
  const std::vector<Move> moves = variation_of(line);
  EXPECT_EQ(board.hash, before.hash);
  EXPECT_EQ(board.candidates, before.candidates);
  EXPECT_EQ(board.side_to_move, before.side_to_move);
  ASSERT_GE(moves.size(), 2u);
  EXPECT_EQ(moves[0], board.candidates[rig.search.root()->get_best_action()]);
  Board replay = board;
  for (Move move : moves) {
    ASSERT_FALSE(replay.game_over);
    ASSERT_NE(std::find(replay.candidates.begin(), replay.candidates.end(), move), replay.candidates.end())
        << move_text(move) << " is not playable";
    replay.play(move);
  }
}

}  // namespace
