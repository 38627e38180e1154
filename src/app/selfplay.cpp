#include "app/selfplay.h"

#include <cstdio>
#include <iostream>
#include <memory>
#include <random>

#include "app/config.h"
#include "app/engine.h"
#include "app/output.h"
#include "app/selfplay_options.h"
#include "app/selfplay_records.h"
#include "board/win.h"
#include "search/clock.h"
#include "search/decision.h"
#include "search/mcts.h"

namespace {

// Bytes each evaluator's cache may hold; its entry capacity comes from the configuration.
constexpr int64_t kCacheBytes = int64_t{64} << 20;
// The search's time limit, never reached: searches stop at their visits.
constexpr float kNoTimeLimit = 1e9f;

struct Engine {
  std::vector<std::unique_ptr<eval::Evaluator>> evaluators;
  std::unique_ptr<decision::MCTS> search;
};

// One evaluator per search thread, on the configured devices in turn, loaded with the
// model the protocol engine loads for this rule and size. Throws what the model lookup or
// the loading throws.
Engine build_engine(const Settings& settings, const SelfplayOptions& options) {
  const std::string rule(rule_name(options.rule));
  const std::string model =
      resolve_data_path(config_string("eval.model." + model_name(rule, options.height, options.width))).string();
  say("DEBUG load model: " + model);
  Engine engine;
  std::vector<eval::Evaluator*> evaluators;
  const EvaluatorSettings& eval = settings.eval;
  for (int32_t i = 0; i < options.threads; ++i) {
    auto evaluator = std::make_unique<eval::Evaluator>(
        eval.cache_capacity, options.width, options.height, options.rule, eval.input_version, eval.output_version,
        eval.batch_size, eval.intra_op_threads, eval.device, eval.device_ids[i % eval.device_ids.size()],
        eval.device_memory_limit, eval.trt_engine_cache_path, eval.trt_timing_cache_path);
    evaluator->load_model(model);
    evaluator->set_cache_budget(kCacheBytes);
    evaluators.push_back(evaluator.get());
    engine.evaluators.push_back(std::move(evaluator));
  }
  engine.search =
      std::make_unique<decision::MCTS>(nullptr, false, 1, options.threads, settings.search_batch_size, evaluators);
  engine.search->set_tree_threats(decision::tree_threats(settings.decision.threats));
  return engine;
}

// The candidate drawn from the weights (which sum to 1), or the heaviest, the first of equals.
int32_t choose(const std::vector<float>& weights, bool draw, std::mt19937_64& generator) {
  if (draw) return static_cast<int32_t>(std::discrete_distribution<int32_t>(weights.begin(), weights.end())(generator));
  return static_cast<int32_t>(std::max_element(weights.begin(), weights.end()) - weights.begin());
}

PositionRecord position_record(const Board& board, decision::Node& root, const std::vector<float>& weights) {
  const int32_t side = board.side_to_move();
  const decision::NodeValue value = root.get_value();
  PositionRecord record{static_cast<int32_t>(board.move_count()), side, value.values[side], value.draw_rate, {}};
  for (size_t a = 0; a < weights.size(); ++a) {
    if (weights[a] > 0.0f) record.policy.push_back({board.candidates()[a], weights[a]});
  }
  return record;
}

// One game from the empty board, through the root checks of a move decision: a win by
// fours or threats the root solver finds for the side to move, every move losing to the
// opponent's, or a root the search proves, ends it with the proven winner; the candidates
// that leave the opponent such a win are not searched.
GameRecord play_game(decision::MCTS& search, const Settings& settings, const SelfplayOptions& options,
                     std::mt19937_64& generator) {
  const decision::ThreatSettings& threats = settings.decision.threats;
  const decision::ThreatLimits root_limits{threats.root_nodes, threats.max_fours, 0};
  Board board(BoardConfig{options.rule, options.height, options.width, settings.area_candidate_range,
                          settings.line_candidate_range},
              0, CellArray{}, 0);
  GameRecord game{options.rule, options.width, options.height, {}, {}, 2, GameEnd::kBoard, {}};
  std::bernoulli_distribution full_search(options.full_share);
  while (!board.game_over()) {
    const int32_t side = board.side_to_move();
    if (threats.enabled) {
      if (decision::ThreatLine line = decision::find_own_win(search.root_solver(), board, threats.vct_threes, root_limits);
          line.win()) {
        game.vcf = std::move(line.moves);
        game.winner = side;
        game.end = GameEnd::kProven;
        return game;
      }
    }
    const bool full = full_search(generator);
    search.set_root(settings.node_config, board, settings.decision.root_temperature, false, full);
    // Every move losing to the opponent's threats ends the game as proven.
    if (threats.enabled &&
        decision::exclude_refuted(search, board, threats.vct_threes, root_limits, [](const std::string&) {})) {
      game.winner = side ^ 1;
      game.end = GameEnd::kProven;
      return game;
    }
    const float visits = static_cast<float>(full ? options.full_visits : options.fast_visits);
    search.search({visits, kNoTimeLimit, false, 0.0f, 0.0f, 0.0f, 0.0f});
    decision::Node& root = *search.root();
    if (const decision::Proof proof = root.proof(); proof.result != decision::Proof::kNone) {
      game.winner = proof.result == decision::Proof::kWin ? side : side ^ 1;
      game.end = GameEnd::kProven;
      return game;
    }
    const std::vector<float> weights = root.get_pruned_weights_by_action(true);
    if (full) game.positions.push_back(position_record(board, root, weights));
    const bool draw = static_cast<int64_t>(game.moves.size()) < options.temperature_moves;
    const Move move = board.candidates()[choose(weights, draw, generator)];
    board.play(move);
    game.moves.push_back(move);
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

int run_selfplay(const Settings& settings, const std::vector<std::string>& args) {
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
    Engine engine = build_engine(settings, options);
    std::mt19937_64 generator(options.seed);
    engine.search->seed_noise(generator());
    int64_t positions = 0;
    const int64_t start = monotonic_ns();
    for (int64_t g = 1; g <= options.games; ++g) {
      const GameRecord game = play_game(*engine.search, settings, options, generator);
      writer.write(game);
      positions += static_cast<int64_t>(game.positions.size());
      say("game " + std::to_string(g) + "/" + std::to_string(options.games) + ": " + std::to_string(game.moves.size()) +
          " moves, " + std::to_string(game.positions.size()) + " positions, " + result_text(game) + " (" +
          end_text(game.end) + ")");
    }
    const double hours = seconds_since(start) / 3600.0;
    char line[160];
    std::snprintf(line, sizeof line,
                  "selfplay: %lld games, %lld positions in %.1f s: %.0f games, %.0f positions per hour",
                  static_cast<long long>(options.games), static_cast<long long>(positions), hours * 3600.0,
                  static_cast<double>(options.games) / hours, static_cast<double>(positions) / hours);
    say(line);
  } catch (const std::exception& error) {
    std::cerr << "selfplay: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
