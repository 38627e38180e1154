#include "training/selfplay.h"

#include <cstdio>
#include <iostream>
#include <memory>
#include <random>

#include "app/output.h"
#include "board/win.h"
#include "config/config_file.h"
#include "protocol/game_engine.h"
#include "search/clock.h"
#include "search/decision.h"
#include "search/mcts.h"
#include "training/selfplay_options.h"
#include "training/selfplay_records.h"

namespace tovan::training {

namespace {

// Bytes each evaluator's cache may hold; its entry capacity comes from the configuration.
constexpr int64_t kCacheBytes = int64_t{64} << 20;

// One evaluator per search thread, on the configured devices in turn, loaded with the
// model the protocol engine loads for this rule and size. Throws what the model lookup or
// the loading throws.
search::Engine build_engine(const config::Settings& settings, const SelfplayOptions& options) {
  const std::string& model = settings.model_path(options.rule, options.width, options.height);
  app::say("DEBUG load model: " + model);
  std::vector<uint32_t> device_ids;
  for (int32_t i = 0; i < options.threads; ++i)
    device_ids.push_back(settings.device_ids[i % settings.device_ids.size()]);
  search::Engine engine =
      search::build_engine({.rule = options.rule,
                            .width = options.width,
                            .height = options.height,
                            .model_path = model,
                            .evaluator = settings.evaluator,
                            .device_ids = device_ids,
                            .search = {.threads = options.threads, .batch_size = settings.search.batch_size, .keep_tree = false},
                            .threats = search::tree_threats(settings.decision.threats)});
  for (auto& evaluator : engine.evaluators) evaluator->set_cache_budget(kCacheBytes);
  return engine;
}

PositionRecord position_record(const Board& board, search::Node& root) {
  const int32_t side = board.side_to_move();
  const search::NodeValue value = root.get_value();
  const std::vector<float> weights = root.get_pruned_weights_by_action(true);
  PositionRecord record{.ply = static_cast<int32_t>(board.move_count()),
                        .side = side,
                        .value = value.values[side],
                        .draw_rate = value.draw_rate,
                        .policy = {}};
  for (size_t a = 0; a < weights.size(); ++a) {
    if (weights[a] > 0.0f) record.policy.push_back({board.candidates()[a], weights[a]});
  }
  return record;
}

// One game from the empty board, each move decided as in a game (root threat checks,
// exclusions and proofs), searched to fixed visits instead of against the clock. A result
// the decision proves ends the game with the proven winner: a win by the root's threats
// keeps their line.
GameRecord play_game(search::MCTS& search, const config::Settings& settings, const SelfplayOptions& options,
                     std::mt19937_64& generator) {
  Board board(settings.board_config(options.rule, options.width, options.height), 0, CellArray{}, 0);
  GameRecord game{.rule = options.rule, .width = options.width, .height = options.height};
  std::bernoulli_distribution full_search(options.full_share);
  const search::TimeSettings no_clock;
  float no_deduction = 0.0f;
  while (!board.game_over()) {
    const int32_t side = board.side_to_move();
    const bool full = full_search(generator);
    const bool draw = static_cast<int64_t>(game.moves.size()) < options.temperature_moves;
    const search::DecisionContext context{
        .search = search,
        .constants = settings.node_config,
        .settings = settings.decision,
        .time = no_clock,
        .command_start = 0,
        .startup_deduction = no_deduction,
        .report = [] {},
        .say = [](const std::string&) {},
        .playouts = search::Playouts{.visits = static_cast<float>(full ? options.full_visits : options.fast_visits),
                                     .exploration = full,
                                     .temperature = draw ? 1.0f : 0.0f,
                                     .generator = &generator}};
    search::Decision decision = search::decide(context, board, false);
    if (decision.proof != search::Proof::kNone) {
      game.winner = decision.proof == search::Proof::kWin ? side : side ^ 1;
      game.end = GameEnd::kProven;
      game.vcf = std::move(decision.threat_line);
      return game;
    }
    if (full) game.positions.push_back(position_record(board, *search.root()));
    board.play(decision.move);
    game.moves.push_back(decision.move);
  }
  game.winner = board.winner();
  const Move last = game.moves.back();
  const bool five = game.winner != 2 && is_winning_stone(board.config(), board.cells(), last.y, last.x);
  game.end = five ? GameEnd::kFive : GameEnd::kBoard;
  return game;
}

const char* result_text(const GameRecord& game) {
  static const char* const kWinners[] = {"Black wins", "White wins", "draw"};
  return kWinners[game.winner];
}

const char* end_text(GameEnd end) {
  switch (end) {
    case GameEnd::kFive:
      return "five";
    case GameEnd::kBoard:
      return "board";
    case GameEnd::kProven:
      return "proven";
  }
  return "";
}

}  // namespace

int run_selfplay(const config::Settings& settings, const std::vector<std::string>& args) {
  SelfplayOptions options;
  try {
    options = parse_selfplay_options(args);
  } catch (const SelfplayUsageError& error) {
    std::cerr << "selfplay: " << error.what() << "\n" << kSelfplayUsage;
    return 2;
  }
  if (options.help) {
    std::cout << kSelfplayUsage;
    return 0;
  }
  try {
    RecordWriter writer(options.out);
    search::Engine engine = build_engine(settings, options);
    std::mt19937_64 generator(options.seed);
    engine.search->seed_noise(generator());
    int64_t positions = 0;
    const int64_t start = search::monotonic_ns();
    for (int64_t g = 1; g <= options.games; ++g) {
      const GameRecord game = play_game(*engine.search, settings, options, generator);
      writer.write(game);
      positions += static_cast<int64_t>(game.positions.size());
      app::say("game " + std::to_string(g) + "/" + std::to_string(options.games) + ": " +
               std::to_string(game.moves.size()) + " moves, " + std::to_string(game.positions.size()) + " positions, " +
               result_text(game) + " (" + end_text(game.end) + ")");
    }
    const double hours = search::seconds_since(start) / 3600.0;
    char line[160];
    std::snprintf(line, sizeof line,
                  "selfplay: %lld games, %lld positions in %.1f s: %.0f games, %.0f positions per hour",
                  static_cast<long long>(options.games), static_cast<long long>(positions), hours * 3600.0,
                  static_cast<double>(options.games) / hours, static_cast<double>(positions) / hours);
    app::say(line);
  } catch (const std::exception& error) {
    std::cerr << "selfplay: " << error.what() << "\n";
    return 1;
  }
  return 0;
}

}  // namespace tovan::training
