// Forced moves found by a short search with the shipped pattern networks, Renju
// forbidden points kept out of Black's answers, and the model chosen for a rule and size.
#include <cpptoml.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "app/config.h"
#include "app/engine.h"
#include "search/clock.h"
#include "search/decision.h"

namespace {

Move at(int x, int y) { return Move{static_cast<int8_t>(x), static_cast<int8_t>(y)}; }

// Stones drawn along a line from (x, y) in steps of (dx, dy): 'X' Black, 'O' White, '.' skipped.
struct Stones {
  std::string text;
  int x, y, dx = 1, dy = 0;
};

// A 15 x 15 position; the side to move follows from the stone counts.
Board position(Rule rule, const std::vector<Stones>& lines) {
  CellArray cells{};
  int black = 0;
  int white = 0;
  for (const Stones& line : lines) {
    for (size_t i = 0; i < line.text.size(); ++i) {
      if (line.text[i] == '.') continue;
      const bool is_black = line.text[i] == 'X';
      cells[cell_index(line.x + static_cast<int>(i) * line.dx, line.y + static_cast<int>(i) * line.dy)] =
          is_black ? BLACK : WHITE;
      ++(is_black ? black : white);
    }
  }
  EXPECT_TRUE(black == white || black == white + 1);
  return Board({rule, 15, 15, 2, 4}, black + white, cells, black == white ? 0 : 1);
}

std::string model_file(Rule rule) {
  switch (rule) {
    case Rule::Freestyle:
      return SHIPPED_MODEL_DIR "/freestyle.onnx";
    case Rule::Standard:
      return SHIPPED_MODEL_DIR "/standard.onnx";
    case Rule::Renju:
      return SHIPPED_MODEL_DIR "/renju.onnx";
    case Rule::StandardCaro:
      return SHIPPED_MODEL_DIR "/standard_caro.onnx";
  }
  return "";
}

// decide() stopped at 200 visits; with the shortcut, a move the network is sure of is
// answered without search.
Move decide(const Board& board, bool allow_shortcut) {
  eval::Evaluator evaluator(10000, 15, 15, board.config.rule, 0, 0, 16, 1, "cpu", 0, 0, "", "");
  evaluator.load_model(model_file(board.config.rule));
  decision::MCTS search(nullptr, false, 1, 1, 8, {&evaluator});
  const NodeConfig constants = make_node_config(1.6f, 1.0f, 0.1f, 0.3f);
  TimeSettings time;
  time.timeout_turn = 60000;
  time.time_left = 10000000;
  const int64_t command_start = monotonic_ns();
  float startup_deduction = 0.0f;
  const decision::DecisionSettings settings{1.0f, 0.0f, 0.95f, 0.98f, 0.9f, 400.0f, 200.0f, 0.0f};
  const decision::DecisionContext context{search, constants, time, command_start, startup_deduction, settings, [] {}};
  return decision::decide(context, board, allow_shortcut).move;
}

struct ForcedCase {
  const char* name;
  Rule rule;
  std::vector<Stones> stones;
  Move expected;
};

TEST(Tactics, PlaysTheOnlyMove) {
  const std::vector<ForcedCase> cases = {
      {"Freestyle: completes the five before answering a three",
       Rule::Freestyle,
       {{"OXXXX", 3, 10}, {"OOO", 5, 5}},
       at(8, 10)},
      {"Renju: Black completes the five", Rule::Renju, {{"OXXXX", 3, 10}, {"OOO", 5, 5}}, at(8, 10)},
      {"Standard: the exact five, not the six through the gap",
       Rule::Standard,
       {{"OXXX.XXO", 1, 12}, {"OXXXX", 11, 2, 0, 1}, {"O.O.O", 2, 3}, {"O.O.O", 2, 5}},
       at(11, 7)},
      {"StandardCaro: the five with an open end, not the one shut at both",
       Rule::StandardCaro,
       {{"OXXXX.O", 2, 4}, {"OXXXX", 7, 7, 1, 1}, {"O.O.O.O.O", 1, 13}},
       at(12, 12)},
      {"Freestyle: blocks the four", Rule::Freestyle, {{"XOOOO", 4, 6}, {"X.X", 6, 9}, {"X", 3, 12}}, at(9, 6)},
      {"Standard: blocks the diagonal four",
       Rule::Standard,
       {{"XOOOO", 3, 3, 1, 1}, {"X.X", 9, 2}, {"X", 2, 12}},
       at(8, 8)},
      {"Renju: White blocks Black's four",
       Rule::Renju,
       {{"OXXXX", 4, 8}, {"X", 12, 2}, {"O.O", 6, 11}, {"O", 10, 13}},
       at(9, 8)},
  };
  for (const ForcedCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Board board = position(c.rule, c.stones);
    ASSERT_FALSE(board.game_over);
    // Whether answered at once or searched to the visits limit.
    for (bool allow_shortcut : {true, false}) {
      const Move move = decide(board, allow_shortcut);
      EXPECT_EQ(move, c.expected) << "played " << move_text(move) << (allow_shortcut ? "" : " after a search");
    }
  }
}

TEST(Tactics, RenjuBlackNeverPlaysAForbiddenPoint) {
  const std::vector<Stones> far_white = {{"O", 1, 1},   {"O", 13, 1}, {"O", 1, 13},
                                         {"O", 13, 13}, {"O", 3, 1},  {"O", 11, 13}};
  struct Case {
    const char* name;
    std::vector<Stones> black;
    size_t white_count;
  };
  const std::vector<Case> cases = {
      {"double three", {{"XX", 5, 7}, {"XX", 7, 5, 0, 1}}, 4},
      {"double four", {{"XXX", 4, 7}, {"XXX", 7, 4, 0, 1}}, 6},
      {"overline", {{"XXX.XX", 4, 7}}, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Stones> stones = c.black;
    stones.insert(stones.end(), far_white.begin(), far_white.begin() + static_cast<std::ptrdiff_t>(c.white_count));
    const Board board = position(Rule::Renju, stones);
    ASSERT_EQ(board.side_to_move, 0);
    ASSERT_TRUE(board.forbidden[cell_index(7, 7)]);
    const Move move = decide(board, true);
    EXPECT_NE(move, at(7, 7));
    EXPECT_EQ(board.cell(move.x, move.y), EMPTY);
    EXPECT_FALSE(board.forbidden[cell_index(move.x, move.y)]) << move_text(move);
  }
}

TEST(EngineAssembly, ChoosesTheModelByRuleAndBoardSize) {
  EXPECT_EQ(model_name("Freestyle", 15, 15), "Freestyle");
  EXPECT_EQ(model_name("Freestyle", 16, 16), "Freestyle_Large");
  EXPECT_EQ(model_name("Freestyle", 20, 20), "Freestyle_Large");
  EXPECT_EQ(model_name("Freestyle", 15, 20), "Freestyle");  // 20 wide, 15 high
  EXPECT_EQ(model_name("Freestyle", 20, 15), "Freestyle");
  EXPECT_EQ(model_name("Renju", 20, 20), "Renju");
  EXPECT_EQ(model_name("Standard", 20, 20), "Standard");
  EXPECT_EQ(model_name("StandardCaro", 15, 15), "StandardCaro");
}

TEST(EngineAssembly, LoadsTheModelForTheGame) {
  config = cpptoml::parse_file(SHIPPED_CONFIG);
  executable_directory = std::filesystem::path(SHIPPED_MODEL_DIR).parent_path();
  const Settings settings = read_settings(*config);
  GameState state{settings};
  for (const auto& [rule, size, stem] : {std::tuple{"Freestyle", 20, "freestyle_large"},
                                         std::tuple{"Renju", 15, "renju"}, std::tuple{"Freestyle", 15, "freestyle"}}) {
    SCOPED_TRACE(rule);
    state.rule_name = rule;
    state.height = state.width = size;
    state.engine_dirty = true;
    testing::internal::CaptureStdout();
    ensure_engine(state);
    EXPECT_TRUE(testing::internal::GetCapturedStdout().starts_with("DEBUG load model: "));
    EXPECT_FALSE(state.engine_dirty);
    ASSERT_FALSE(state.evaluators.empty());
    for (const auto& evaluator : state.evaluators) EXPECT_EQ(evaluator->model_name(), stem);
    ASSERT_TRUE(state.board);
    EXPECT_EQ(state.board->config.rule, rule_by_name(rule));
    EXPECT_EQ(state.board->config.width, size);
  }
  config.reset();
}

}  // namespace
