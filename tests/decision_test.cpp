// The move decision: the move draw from the root, and decide() on positions small enough to
// search in a blink (random-mode evaluator, one search thread) under various time limits;
// the search report line; the swap2 opening generation; and tactics with the shipped
// networks.
#include "search/decision.h"

#include <cpptoml.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <regex>
#include <set>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "config/config_file.h"
#include "protocol/game_engine.h"
#include "protocol/search_report.h"
#include "search/clock.h"
#include "search/engine.h"
#include "search/opening.h"
#include "test_positions.h"

namespace tovan {

namespace {

using search::Node, search::NodeConfig, search::make_node_config;

const NodeConfig kConstants = make_node_config(1.6f, 1.0f, 0.1f, 0.3f);
search::Tree tree{.constants = kConstants};
const eval::EvaluatorOptions kEvaluator{.batch_size = 16, .cache_capacity = 1000};

// An evaluator of the given model (random mode if none) and a one-thread search on it.
struct Searcher {
  explicit Searcher(int size = 15, const std::string& model = "random", Rule rule = Rule::Freestyle)
      : engine(search::build_engine({.rule = rule,
                                     .width = size,
                                     .height = size,
                                     .model_path = model,
                                     .evaluator = kEvaluator,
                                     .search = {.threads = 1, .batch_size = 8}})),
        search(*engine.search) {}
  search::Engine engine;
  search::MCTS& search;
};

// A root of player 0 after `n` simulations; the child of action a ends the game with the
// value q[a] for the root's player.
std::unique_ptr<Node> searched_root(std::vector<float> prior, const std::vector<float>& q, int n) {
  auto root = std::make_unique<Node>(-1, nullptr, tree, eval::EvalResult{std::move(prior), {0, 0}, 0}, false, 0);
  for (int i = 0; i < n; ++i) {
    const search::SelectResult step = root->select();
    if (step.status == search::SelectResult::kNewSlot) {
      const float v = q[step.action];
      root->set_child(step.slot, std::make_unique<Node>(step.slot, root.get(), tree,
                                                        eval::EvalResult{{}, {v, -v}, 0.0f}, true, 1));
    }
    search::NodeValue leaf = root->get_child(step.slot)->get_value();
    leaf.depth = 1.0f;
    root->backup(step.slot, leaf);
  }
  return root;
}

TEST(SampleMove, NeverDrawsAMoveWithoutWeightAndAtTemperatureZeroAlwaysTheSame) {
  // Two even moves share the visits; the losing long shots must never be drawn.
  auto even = searched_root({0.45f, 0.45f, 0.05f, 0.05f}, {0, 0, -1, -1}, 40);
  std::set<int32_t> drawn, drawn_cold;
  std::mt19937_64 generator(1);
  for (int draw = 0; draw < 200; ++draw) {
    drawn.insert(search::sample_move(*even, 1.0f, generator));
    drawn_cold.insert(search::sample_move(*even, 0.0f, generator));
  }
  EXPECT_EQ(drawn, (std::set<int32_t>{0, 1}));
  EXPECT_EQ(drawn_cold.size(), 1u);
}

// A 15 x 15 Freestyle board blocked everywhere but on the given rows (padded with '#').
Board walled(const std::vector<std::pair<int, std::string>>& open_rows, int side_to_move) {
  std::vector<std::string> rows(15, std::string(15, '#'));
  for (const auto& [y, row] : open_rows) rows[y] = row + std::string(15 - row.size(), '#');
  return board_from_rows(board_config(Rule::Freestyle), rows, side_to_move);
}

// Black to move; the only cell left is (6, 7), and filling it draws the game.
Board last_cell() { return walled({{7, "######.XO"}}, 0); }

struct Rig : Searcher {
  using Searcher::Searcher;
  // Move temperature 0, no time reduction, fast stop from 400 visits.
  search::DecisionContext context(float visits_limit) {
    command_start = search::monotonic_ns();
    settings = {.root_temperature = 1.0f,
                .search_time_reduction = 0.0f,
                .fast_search_draw_rate_threshold = 0.95f,
                .fast_search_win_rate_threshold = 0.98f,
                .fast_search_best_action_visits_proportion_threshold = 0.9f,
                .fast_search_visits_threshold = 400.0f,
                .visits_limit = visits_limit,
                .move_temperature = 0.0f,
                .threats = settings.threats};
    return {.search = search,
            .constants = kConstants,
            .settings = settings,
            .time = time,
            .command_start = command_start,
            .startup_deduction = startup_deduction,
            .report = [this] { report_visits.push_back(search.root()->get_visits()); },
            .say = [this](const std::string& line) { said.push_back(line); }};
  }
  float visits() const { return search.root()->get_visits(); }

  search::TimeSettings time{.timeout_turn = 30000, .max_memory = std::nullopt, .time_left = 1000000};
  int64_t command_start = 0;
  float startup_deduction = 0.0f;
  search::DecisionSettings settings{};
  std::vector<float> report_visits;
  std::vector<std::string> said;
};

TEST(Decide, AnswersASureMoveAtOnceOnlyWhenShortcutsAreAllowed) {
  Rig rig;
  const search::Decision instant = search::decide(rig.context(1000), last_cell(), true);
  EXPECT_EQ(instant.move, (Move{6, 7}));
  EXPECT_FALSE(instant.root_win_rate.has_value());
  EXPECT_EQ(rig.report_visits, (std::vector<float>{1.0f}));
  rig.startup_deduction = 0.05f;
  const search::Decision searched = search::decide(rig.context(50), last_cell(), false);
  EXPECT_EQ(searched.move, (Move{6, 7}));
  EXPECT_NEAR(searched.root_win_rate.value_or(-1), 0.5f, 0.01f);  // every line draws
  EXPECT_GT(rig.visits(), 1.0f);
  EXPECT_EQ(rig.startup_deduction, 0.0f) << "the deduction is taken once";
}

TEST(Decide, WinRateIsThatOfTheSideToMove) {
  // The only cell left completes a five for the side to move.
  for (int side : {0, 1}) {
    const Board position = side == 0 ? walled({{7, "###XXXX."}, {9, "###OOOO"}}, 0)
                                     : walled({{7, "###XXXX"}, {9, "###OOOO."}, {12, "############X"}}, 1);
    Rig rig;
    const search::Decision result = search::decide(rig.context(64), position, false);
    EXPECT_EQ(result.move, (Move{7, static_cast<int8_t>(side == 0 ? 7 : 9)}));
    EXPECT_GT(result.root_win_rate.value_or(-1), 0.9f) << "side " << side;
  }
}

TEST(Decide, TimeBudgetDecidesWhetherAndHowLongToSearch) {
  struct Case {
    int32_t timeout_turn, time_left;
    float startup_deduction, visits_limit;
    // A search of a second or more reports after slices 1, 2, 4 and 8, and at the end.
    size_t reports, most_reports;
  };
  const Case cases[] = {
      {100, 1000000, 0.5f, 1e9f, 1, 1},  // a negative budget: no search, the highest prior
      {30000, 10000, 0.0f, 1e9f, 1, 1},  // little match time left: a brief search, not in slices
      // What is left of the turn, about ten slices; the only candidate cannot be overtaken
      // once half of them have run.
      {1250, 1000000, 0.0f, 1e9f, 3, 5},
      {30000, 1000000, 0.0f, 100, 2, 2},  // 30 s, stopped by the visits limit after a slice or two
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "turn " << c.timeout_turn << " ms, match " << c.time_left << " ms");
    Rig rig;
    rig.time = {.timeout_turn = c.timeout_turn, .max_memory = std::nullopt, .time_left = c.time_left};
    rig.startup_deduction = c.startup_deduction;
    const Board position =
        c.visits_limit < 1e9f ? board_from_rows(board_config(Rule::Freestyle), {}, 0) : last_cell();
    const search::Decision result = search::decide(rig.context(c.visits_limit), position, false);
    EXPECT_GE(rig.report_visits.size(), c.reports);
    EXPECT_LE(rig.report_visits.size(), c.most_reports);
    EXPECT_TRUE(result.root_win_rate.has_value());
    EXPECT_EQ(rig.visits() > 1.0f, c.startup_deduction == 0.0f);
    EXPECT_LE(rig.visits(), std::min(c.visits_limit + 7, 1e9f));
    // Move temperature 0: the candidate with the largest pruned weight.
    const std::vector<float> weights = rig.search.root()->get_pruned_weights_by_action(true);
    const std::vector<float> prior = rig.search.root()->get_prior();
    const std::vector<float>& heaviest = rig.visits() > 1.0f ? weights : prior;
    EXPECT_EQ(result.move,
              position.candidates()[std::max_element(heaviest.begin(), heaviest.end()) - heaviest.begin()]);
  }
}

// A settled search stops early only where the time saved serves later moves: not where the
// turn caps the plan, as it does in a 1 s / 60 s match until the match clock runs short.
TEST(MoveTime, OnlyAPlanBelowTheTurnsCapMayStopEarly) {
  const auto capped = [](int32_t timeout_turn, int32_t time_left, int32_t stones) {
    return search::move_time({.timeout_turn = timeout_turn, .max_memory = std::nullopt, .time_left = time_left}, 0.0,
                             0.15f, 0.0f, stones)
        .capped;
  };
  EXPECT_TRUE(capped(1000, 60000, 0));
  EXPECT_TRUE(capped(1000, 1000000, 100));
  EXPECT_FALSE(capped(1000, 20000, 10));
  EXPECT_FALSE(capped(30000, 180000, 0));
}

// The root checks alone: no tree checks, VCTs of one threat that is no four.
constexpr search::ThreatSettings kThreats{.enabled = true,
                                            .max_fours = 30,
                                            .vct_threes = 1,
                                            .root_nodes = 100000,
                                            .root_time_share = 1.0f,
                                            .tree_nodes = 0,
                                            .tree_vct_visits = 0,
                                            .tree_vct_nodes = 1};

TEST(Decide, PlaysAVcfAtOnceAndKeepsOnlyTheMovesThatStopTheOpponents) {
  // White's (6, 7) makes two fours, and so does (6, 11) after any Black move but (6, 7).
  std::vector<std::string> rows = {"", ".X..........X", "", "", "", "", ".............X",
                                   "..XOOO*", "......O", "......O", "......O", "", ".X..........X"};
  const Move point = *take_mark(rows, '*');
  // Black's defence is settled within 300 positions too, fewer than its 188 candidates'
  // searches take: White's line, replayed after each, refutes without a search all but
  // those that touch it.
  for (const auto& [side, nodes] : {std::pair{1, kThreats.root_nodes}, {0, kThreats.root_nodes}, {0, int64_t{300}}}) {
    SCOPED_TRACE(side == 1 ? "White wins" : "Black defends within " + std::to_string(nodes) + " positions");
    Rig rig;
    rig.settings.threats = kThreats;
    rig.settings.threats.root_nodes = nodes;
    const Board position = board_from_rows(board_config(Rule::Freestyle), rows, side);
    const search::Decision result = search::decide(rig.context(50), position, false);
    ASSERT_FALSE(rig.said.empty());
    if (side == 1) {
      EXPECT_TRUE(result.move == point || result.move == (Move{6, 11}));
      EXPECT_TRUE(rig.said[0].starts_with("DEBUG Win 1.00 | Proof 3 | VCF ")) << rig.said[0];
    } else {
      EXPECT_EQ(result.move, point);
      EXPECT_TRUE(rig.said[0].starts_with("DEBUG VCF threat: ") && rig.said[0].ends_with("; 1 of 188 moves stop it"))
          << rig.said[0];
    }
  }
}

TEST(Decide, PlaysAVctAtOnceStopsTheOpponentsAndHoldsOutLongestWhenNothingStopsIt) {
  // Black's (7, 7) makes two open threes; in `two`, so does (10, 12), too far for one
  // stone of White's to stop both.
  const std::vector<std::string> one = {"O", "", "", "", "", ".......X", ".......X", ".....XX", "", "", "", "", "",
                                        "", "O.............O"};
  std::vector<std::string> two = one;
  two[10] = "..........X";
  two[11] = "..........X";
  two[12] = "........XX";
  two[0] = "O.............O";
  two[14] = "O......O.....O";
  const BoardConfig config = board_config(Rule::Freestyle);
  search::ThreatSolver solver(16);
  {
    Rig rig;
    rig.settings.threats = kThreats;
    const search::Decision win = search::decide(rig.context(50), board_from_rows(config, one, 0), false);
    EXPECT_EQ(win.move, (Move{7, 7}));
    ASSERT_FALSE(rig.said.empty());
    EXPECT_TRUE(std::regex_search(rig.said[0], std::regex(R"(^DEBUG Win 1\.00 \| Proof \d+ \| VCT \(7, 7\) )")))
        << rig.said[0];
  }
  {
    Rig rig;
    rig.settings.threats = kThreats;
    Board defended = board_from_rows(config, one, 1);
    const search::Decision defence = search::decide(rig.context(50), defended, false);
    ASSERT_FALSE(rig.said.empty());
    EXPECT_TRUE(rig.said[0].starts_with("DEBUG VCT threat: (7, 7) ")) << rig.said[0];
    defended.play(defence.move);
    EXPECT_FALSE(solver.find_vct(defended, {100000, 30, 0}, 1).win()) << move_text(defence.move);
  }
  Rig rig;
  rig.settings.threats = kThreats;
  const search::Decision lost = search::decide(rig.context(50), board_from_rows(config, two, 1), false);
  ASSERT_FALSE(rig.said.empty());
  EXPECT_TRUE(std::regex_search(rig.said[0], std::regex("; 0 of [0-9]+ moves stop it$"))) << rig.said[0];
  EXPECT_EQ(lost.root_win_rate, 0.0f);
  EXPECT_EQ(rig.report_visits.size(), 0u) << "no search";
}

// ---- The search report line: rounding of each field, the side it speaks for, and the
// principal variation (row first, cut at a finished game, the board left as it was).

// The report line after a search of `visits` from `board`, `elapsed_ns` after the command.
std::string report(Searcher& rig, Board& board, float visits, int64_t elapsed_ns) {
  rig.search.set_root(kConstants, board, 1.0f, false, false);
  rig.search.search({.visits_limit = visits, .seconds = 60.0f});
  return protocol::search_report_line({rig.search, board, 0, true}, elapsed_ns);
}

TEST(SearchReportLine, RoundsEveryFieldForTheSideToMove) {
  // 9 x 9, ten black stones, candidates within one cell: 26. The test network values the
  // position (own stones - opponent stones) / 81 for the side to move, draw rate 26 / 81.
  Searcher rig(9, TEST_MODEL_DIR "/linear40.onnx");
  const std::vector<std::string> rows = {"X.X.X.X.X", "", "", "", "", "", "", "", "X.X.X.X.X"};
  const BoardConfig narrow{
      .rule = Rule::Freestyle, .height = 9, .width = 9, .area_candidate_range = 1, .line_candidate_range = 1};
  Board black = board_from_rows(narrow, rows, 0);
  ASSERT_EQ(black.candidates().size(), 26u);
  // Win (10/81) * 0.5 + 0.5 = 0.5617, draw 0.321; a root of one visit has no variation.
  const std::string fields = "DEBUG Win 0.56 | Draw 0.32 | Visits 1 | Depth 0 | Time ";
  EXPECT_EQ(report(rig, black, 1, 2'960'000'000), fields + "3");
  EXPECT_EQ(report(rig, black, 1, 40'000'000), fields + "0");
  EXPECT_EQ(report(rig, black, 1, 1'340'000'000), fields + "1.3");
  Board white = board_from_rows(narrow, rows, 1);
  EXPECT_EQ(report(rig, white, 1, 0), "DEBUG Win 0.44 | Draw 0.32 | Visits 1 | Depth 0 | Time 0");
}

TEST(SearchReportLine, VariationIsALineOfPlayableMovesEndingAtTheWin) {
  Searcher rig(15, SHIPPED_MODEL_DIR "/freestyle.weights");
  // Black's four can only be completed at '*'.
  std::vector<std::string> four = {"", "", "", ".....O.O.O", "", "..OXXXX*"};
  const Move win = *take_mark(four, '*');
  Board won = board_from_rows(board_config(Rule::Freestyle), four, 0);
  const std::string line = report(rig, won, 200, 0);
  EXPECT_TRUE(line.ends_with(" | Move (" + std::to_string(win.y) + ", " + std::to_string(win.x) + ")")) << line;

  Board board =
      board_from_rows(board_config(Rule::Freestyle), {"", "", "", "", "", "", "", ".......XO", ".......X"}, 1);
  const Board before = board;
  const std::string searched = report(rig, board, 300, 0);
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

// ---- Swap2 opening generation with a random-mode evaluator: where the three stones may go,
// settings that leave no room, and the attempt played when none qualifies in time.

struct OpeningRig : Searcher {
  std::array<Move, 3> generate(double seconds_allowed) {
    return search::generate_opening({.search = search,
                                     .constants = constants,
                                     .board = board,
                                     .command_start = search::monotonic_ns(),
                                     .seconds_allowed = seconds_allowed,
                                     .settings = settings,
                                     .report = [] {},
                                     .say = [this](const std::string& line) { lines.push_back(line); }});
  }
  // The lines that start with `prefix`, without it.
  std::vector<std::string> said(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const std::string& line : lines)
      if (line.starts_with(prefix)) found.push_back(line.substr(prefix.size()));
    return found;
  }

  const NodeConfig constants = make_node_config(1.6f, 1.0f, 0.0f, 0.0f);
  Board board{board_config(Rule::Freestyle), 0, CellArray{}, 0};
  // Qualifies at once: random mode values every move within 0.005 of an even game.
  search::OpeningSettings settings{.margin_range = 4,
                                   .candidate_range = 2,
                                   .visits_limit = 100.0f,
                                   .visits_threshold = 0.0f,
                                   .action_value_threshold = -0.1f,
                                   .draw_rate_threshold = 0.5f};
  std::vector<std::string> lines;
};

void expect_played(const Board& board, const std::array<Move, 3>& moves) {
  EXPECT_EQ(board.move_count(), 3);
  EXPECT_EQ(board.side_to_move(), 1);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(board.cell(moves[i].x, moves[i].y), i == 1 ? WHITE : BLACK) << "stone " << i;
}

TEST(GenerateOpening, PlaysThreeStonesWithinTheMarginAndRange) {
  // The last three settings leave no point for the first or the second stone.
  for (const auto& [margin, range, room] : {std::tuple{4, 2, true}, std::tuple{6, 1, true}, std::tuple{7, 1, false},
                                            std::tuple{8, 2, false}, std::tuple{5, 0, false}}) {
    SCOPED_TRACE(testing::Message() << "margin " << margin << ", range " << range);
    OpeningRig rig;
    rig.settings.margin_range = margin;
    rig.settings.candidate_range = range;
    if (!room) {
      EXPECT_THROW(rig.generate(30.0), std::invalid_argument);
      EXPECT_EQ(rig.board.stone_count(), 0u);
      continue;
    }
    const std::array<Move, 3> moves = rig.generate(30.0);
    expect_played(rig.board, moves);
    for (int i = 0; i < 2; ++i) {
      EXPECT_GE(std::min(moves[i].x, moves[i].y), margin) << move_text(moves[i]);
      EXPECT_LE(std::max(moves[i].x, moves[i].y), 14 - margin) << move_text(moves[i]);
    }
    EXPECT_LE(std::abs(moves[1].x - moves[0].x), range);
    EXPECT_LE(std::abs(moves[1].y - moves[0].y), range);
    EXPECT_TRUE(rig.said("DEBUG opening is unqualified").empty());
  }
}

TEST(GenerateOpening, PlaysTheAttemptNearestToQualifyingWhenTimeRunsOut) {
  OpeningRig rig;
  rig.settings.visits_threshold = 1e9f;  // never reached
  const std::array<Move, 3> moves = rig.generate(0.5);
  expect_played(rig.board, moves);
  EXPECT_EQ(rig.said("DEBUG opening is unqualified and no time is left").size(), 1u);
  // Each attempt says its first, second stone and visits; the one played has the most
  // visits (the only threshold missed), and the first such attempt wins ties.
  const std::vector<std::string> firsts = rig.said("DEBUG first move: ");
  const std::vector<std::string> seconds = rig.said("DEBUG second move: ");
  std::vector<double> visits;
  for (const std::string& text : rig.said("DEBUG visits: ")) visits.push_back(std::stod(text));
  ASSERT_EQ(firsts.size(), visits.size());
  ASSERT_EQ(seconds.size(), visits.size());
  EXPECT_EQ(rig.said("DEBUG opening is unqualified, regenerating").size(), visits.size() - 1);
  const size_t best = std::max_element(visits.begin(), visits.end()) - visits.begin();
  EXPECT_EQ(firsts[best], move_text(moves[0]));
  EXPECT_EQ(seconds[best], move_text(moves[1]));
}

// ---- Forced moves found by a short search with the shipped pattern networks, Renju
// forbidden points kept out of Black's answers, and the model chosen for a rule and size.

// A 15 x 15 position; the side to move follows from the stone counts.
Board position(Rule rule, const std::vector<std::string>& rows) {
  const CellArray cells = cells_from_rows(rows);
  const auto black = std::count(cells.begin(), cells.end(), BLACK);
  const auto white = std::count(cells.begin(), cells.end(), WHITE);
  EXPECT_TRUE(black == white || black == white + 1);
  return board_from_rows(board_config(rule), rows, black == white ? 0 : 1);
}

// decide() stopped at 200 visits, on the rule's shipped pattern evaluator; with the shortcut, a move
// the evaluator is sure of is answered without search.
Move network_move(const Board& board, bool allow_shortcut) {
  const char* models[] = {"freestyle", "standard", "renju", "standard_caro"};
  const std::string model = models[static_cast<int>(board.config().rule)];
  Rig rig(15, SHIPPED_MODEL_DIR "/" + model + ".weights", board.config().rule);
  return search::decide(rig.context(200), board, allow_shortcut).move;
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
      const Move move = network_move(board, allow_shortcut);
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
    const Move move = network_move(board, true);
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
    EXPECT_STREQ(config::Settings::model_key(rule_by_name(rule), width, height), name)
        << rule << " " << width << " x " << height;
  }
  const config::Settings settings = config::read_settings(*cpptoml::parse_file(SHIPPED_CONFIG),
                                                          std::filesystem::path(SHIPPED_MODEL_DIR).parent_path());
  protocol::GameState state(settings);
  for (const auto& [rule, size, stem] :
       {std::tuple{"Freestyle", 20, "freestyle-1"}, std::tuple{"Renju", 15, "renju-2"},
        std::tuple{"StandardCaro", 15, "standard-1"},
        std::tuple{"Freestyle", 15, "freestyle-fitted"}}) {
    SCOPED_TRACE(rule);
    state.rule = rule_by_name(rule);
    state.height = state.width = size;
    state.engine_dirty = true;
    testing::internal::CaptureStdout();
    protocol::ensure_engine(state);
    EXPECT_TRUE(testing::internal::GetCapturedStdout().starts_with("DEBUG load model: "));
    ASSERT_FALSE(state.engine.evaluators.empty());
    for (const auto& evaluator : state.engine.evaluators) EXPECT_EQ(evaluator->model_name(), stem);
    ASSERT_TRUE(state.board);
    EXPECT_EQ(state.board->config().rule, rule_by_name(rule));
    EXPECT_EQ(state.board->config().width, size);
  }
}

}  // namespace

}  // namespace tovan
