// The search report line: rounding of each field, the side it speaks for, and the
// principal variation (row first, cut at a finished game, the board left as it was).
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "app/search_report.h"
#include "test_positions.h"

namespace {

struct Rig {
  Rig(int size, const std::string& model)
      : evaluator(1000, size, size, Rule::Freestyle, 0, 0, 16, 1, "cpu", 0, 0, "", "") {
    evaluator.load_model(model);
  }
  std::string report(Board& board, float visits, int64_t elapsed_ns, bool variation = true) {
    search.set_root(make_node_config(1.6f, 1.0f, 0.1f, 0.3f), board, 1.0f, false, false);
    search.search({visits, 60.0f, false, 0.0f, 0.0f, 0.0f, 0.0f});
    return search_report_line({search, board, command_start, variation}, elapsed_ns);
  }

  eval::Evaluator evaluator;
  decision::MCTS search{nullptr, false, 1, 1, 8, {&evaluator}};
  int64_t command_start = 0;
};

TEST(SearchReportLine, RoundsEveryFieldForTheSideToMove) {
  // 9 x 9, ten black stones, candidates within one cell: 26. The test network values the
  // position (own stones - opponent stones) / 81 for the side to move, draw rate 26 / 81.
  Rig rig(9, TEST_MODEL_DIR "/linear40.onnx");
  const std::vector<std::string> rows = {"X.X.X.X.X", "", "", "", "", "", "", "", "X.X.X.X.X"};
  Board black = board_from_rows({Rule::Freestyle, 9, 9, 1, 1}, rows, 0);
  ASSERT_EQ(black.candidates().size(), 26u);
  // Win (10/81) * 0.5 + 0.5 = 0.5617, draw 0.321; a root of one visit has no variation.
  const std::string fields = "DEBUG Win 0.56 | Draw 0.32 | Visits 1 | Depth 0 | Time ";
  EXPECT_EQ(rig.report(black, 1, 2'960'000'000, false), fields + "3");
  EXPECT_EQ(rig.report(black, 1, 2'960'000'000), fields + "3");
  EXPECT_EQ(rig.report(black, 1, 40'000'000), fields + "0");
  EXPECT_EQ(rig.report(black, 1, 1'340'000'000), fields + "1.3");
  Board white = board_from_rows({Rule::Freestyle, 9, 9, 1, 1}, rows, 1);
  EXPECT_EQ(rig.report(white, 1, 0), "DEBUG Win 0.44 | Draw 0.32 | Visits 1 | Depth 0 | Time 0");
}

TEST(SearchReportLine, VariationIsALineOfPlayableMovesEndingAtTheWin) {
  Rig rig(15, SHIPPED_MODEL_DIR "/freestyle.onnx");
  // Black's four can only be completed at '*'.
  std::vector<std::string> four = {"", "", "", ".....O.O.O", "", "..OXXXX*"};
  const Move win = *take_mark(four, '*');
  Board won = board_from_rows({Rule::Freestyle, 15, 15, 2, 4}, four, 0);
  const std::string line = rig.report(won, 200, 0);
  EXPECT_TRUE(line.ends_with(" | Move (" + std::to_string(win.y) + ", " + std::to_string(win.x) + ")")) << line;

  Board board =
      board_from_rows({Rule::Freestyle, 15, 15, 2, 4}, {"", "", "", "", "", "", "", ".......XO", ".......X"}, 1);
  const Board before = board;
  const std::string searched = rig.report(board, 300, 0);
  EXPECT_EQ(board.hash(), before.hash());
  EXPECT_EQ(board.candidates(), before.candidates());
  std::smatch fields;
  ASSERT_TRUE(std::regex_search(searched, fields,
                                std::regex(R"(^DEBUG Win [01](\.\d\d?)? \| Draw [01](\.\d\d?)? \| Visits (\d+) \| )"
                                           R"(Depth [1-9][.\d]* \| Time 0 \| Move ((\(\d+, \d+\) ?)+)$)")))
      << searched;
  EXPECT_EQ(std::stoi(fields[3]), static_cast<int>(rig.search.root()->get_visits()));
  // "(row, column)" pairs, the first the root's best move, each playable in turn.
  const std::string variation = fields[4];
  const std::regex move(R"(\((\d+), (\d+)\))");
  Board replay = board;
  for (auto it = std::sregex_iterator(variation.begin(), variation.end(), move); it != std::sregex_iterator(); ++it) {
    const Move next{static_cast<int8_t>(std::stoi((*it)[2])), static_cast<int8_t>(std::stoi((*it)[1]))};
    if (replay.stone_count() == board.stone_count()) {
      EXPECT_EQ(next, board.candidates()[rig.search.root()->get_best_action()]);
    }
    ASSERT_NE(std::find(replay.candidates().begin(), replay.candidates().end(), next), replay.candidates().end())
        << move_text(next) << " is not playable";
    replay.play(next);
  }
  EXPECT_GE(replay.stone_count(), board.stone_count() + 2);
}

}  // namespace
