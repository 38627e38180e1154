// Forced moves found by a short search with the shipped pattern networks, Renju forbidden
// points kept out of Black's answers, and the model chosen for a rule and size.
#include <cpptoml.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "app/config.h"
#include "app/engine.h"
#include "search/clock.h"
#include "search/decision.h"
#include "test_positions.h"

namespace {

// A 15 x 15 position; the side to move follows from the stone counts.
Board position(Rule rule, const std::vector<std::string>& rows) {
  const CellArray cells = cells_from_rows(rows);
  const auto black = std::count(cells.begin(), cells.end(), BLACK);
  const auto white = std::count(cells.begin(), cells.end(), WHITE);
  EXPECT_TRUE(black == white || black == white + 1);
  return board_from_rows({rule, 15, 15, 2, 4}, rows, black == white ? 0 : 1);
}

// decide() stopped at 200 visits; with the shortcut, a move the network is sure of is
// answered without search.
Move decide(const Board& board, bool allow_shortcut) {
  const char* models[] = {"freestyle", "standard", "renju", "standard_caro"};
  eval::Evaluator evaluator(10000, 15, 15, board.config().rule, 0, 0, 16, 1, "cpu", 0, 0, "", "");
  evaluator.load_model(SHIPPED_MODEL_DIR "/" + std::string(models[static_cast<int>(board.config().rule)]) + ".onnx");
  decision::MCTS search(nullptr, false, 1, 1, 8, {&evaluator});
  const NodeConfig constants = make_node_config(1.6f, 1.0f, 0.1f, 0.3f);
  const TimeSettings time{.timeout_turn = 60000, .max_memory = std::nullopt, .time_left = 10000000};
  const int64_t command_start = monotonic_ns();
  float startup_deduction = 0.0f;
  const decision::DecisionSettings settings{1.0f, 0.0f, 0.95f, 0.98f, 0.9f, 400.0f, 200.0f, 0.0f, {}};
  return decision::decide(
             {search, constants, time, command_start, startup_deduction, settings, [] {}, [](const std::string&) {}},
             board, allow_shortcut)
      .move;
}

TEST(Tactics, PlaysTheOnlyMove) {
  // '*' marks the move to play.
  const std::vector<std::string> five = {"", "", "", ".....OOO", "", "", "...OXXXX*"};
  const std::vector<std::tuple<const char*, Rule, std::vector<std::string>>> cases = {
      {"Freestyle: completes the five before answering a three", Rule::Freestyle, five},
      {"Renju: Black completes the five", Rule::Renju, five},
      {"Standard: the exact five, not the six through the gap",
       Rule::Standard,
       {"", "..........O", "..O.O.O...X", "..........X", "..O.O.O...X", "..........X", "..........*", "", ".OXXX.XXO"}},
      {"StandardCaro: the five with an open end, not the one shut at both",
       Rule::StandardCaro,
       {"", "..OXXXX.O", "", ".O", "..X", "...X", "....X", ".....X", "......*", "O.O.O.O.O"}},
      {"Freestyle: blocks the four", Rule::Freestyle, {"", "....XOOOO*", "", "......X.X", "...X"}},
      {"Standard: blocks the diagonal four",
       Rule::Standard,
       {"", ".X", "..O", "...O", "....O", ".....O", "......*", "", "........X.X", "..X"}},
      {"Renju: White blocks Black's four", Rule::Renju, {"", "...OXXXX*", "", ".....O.O", "..X", "......O"}},
  };
  for (const auto& [name, rule, drawing] : cases) {
    SCOPED_TRACE(name);
    std::vector<std::string> rows = drawing;
    const Move expected = *take_mark(rows, '*');
    const Board board = position(rule, rows);
    ASSERT_FALSE(board.game_over());
    // Whether answered at once or searched to the visits limit.
    for (bool allow_shortcut : {true, false}) {
      const Move move = decide(board, allow_shortcut);
      EXPECT_EQ(move, expected) << "played " << move_text(move) << (allow_shortcut ? "" : " after a search");
    }
  }
}

TEST(Tactics, RenjuBlackNeverPlaysAForbiddenPoint) {
  // '*' marks the forbidden point.
  const std::vector<std::pair<const char*, std::vector<std::string>>> cases = {
      {"double three", {"..........O.O", "", "....X.....O.O", "....X", "..XX*"}},
      {"double four", {"..........O.O.O", "....X", "....X.....O.O.O", "....X", ".XXX*"}},
      {"overline", {"..........O.O.O", "", "..........O.O", "", ".XXX*XX"}},
  };
  for (const auto& [name, drawing] : cases) {
    SCOPED_TRACE(name);
    std::vector<std::string> rows = drawing;
    const Move forbidden = *take_mark(rows, '*');
    const Board board = position(Rule::Renju, rows);
    ASSERT_EQ(board.side_to_move(), 0);
    ASSERT_TRUE(board.forbidden()[cell_index(forbidden.x, forbidden.y)]);
    const Move move = decide(board, true);
    EXPECT_EQ(board.cell(move.x, move.y), EMPTY);
    EXPECT_FALSE(board.forbidden()[cell_index(move.x, move.y)]) << move_text(move);
  }
}

TEST(EngineAssembly, ChoosesAndLoadsTheModelByRuleAndBoardSize) {
  for (const auto& [rule, width, height, name] :
       {std::tuple{"Freestyle", 15, 15, "Freestyle"}, std::tuple{"Freestyle", 16, 16, "Freestyle_Large"},
        std::tuple{"Freestyle", 20, 20, "Freestyle_Large"}, std::tuple{"Freestyle", 15, 20, "Freestyle"},
        std::tuple{"Freestyle", 20, 15, "Freestyle"}, std::tuple{"Renju", 20, 20, "Renju"},
        std::tuple{"Standard", 20, 20, "Standard"}, std::tuple{"StandardCaro", 15, 15, "StandardCaro"}}) {
    EXPECT_EQ(model_name(rule, width, height), name) << rule << " " << width << " x " << height;
  }
  config = cpptoml::parse_file(SHIPPED_CONFIG);
  executable_directory = std::filesystem::path(SHIPPED_MODEL_DIR).parent_path();
  const Settings settings = read_settings(*config);
  GameState state(settings);
  for (const auto& [rule, size, stem] : {std::tuple{"Freestyle", 20, "freestyle_large"},
                                         std::tuple{"Renju", 15, "renju"}, std::tuple{"Freestyle", 15, "freestyle"}}) {
    SCOPED_TRACE(rule);
    state.rule_name = rule;
    state.height = state.width = size;
    state.engine_dirty = true;
    testing::internal::CaptureStdout();
    ensure_engine(state);
    EXPECT_TRUE(testing::internal::GetCapturedStdout().starts_with("DEBUG load model: "));
    ASSERT_FALSE(state.evaluators.empty());
    for (const auto& evaluator : state.evaluators) EXPECT_EQ(evaluator->model_name(), stem);
    ASSERT_TRUE(state.board);
    EXPECT_EQ(state.board->config().rule, rule_by_name(rule));
    EXPECT_EQ(state.board->config().width, size);
  }
  config.reset();
}

}  // namespace
