#include "app/engine.h"

#include "app/config.h"
#include "app/output.h"
#include "app/protocol_input.h"

std::string model_name(const std::string& rule_name, int32_t height, int32_t width) {
  return rule_name == "Freestyle" && height > 15 && width > 15 ? "Freestyle_Large" : rule_name;
}

namespace {

// Evaluators loaded with the model for the current rule and size, and the search over them.
// The old search goes first, as it holds pointers to the old evaluators; a failed build
// leaves no search, so the next request builds again.
void build_engine(GameState& state) {
  const std::string model_path =
      resolve_data_path(config_string("eval.model." + model_name(state.rule_name, state.height, state.width))).string();
  say("DEBUG load model: " + model_path);

  state.search.reset();
  state.evaluators.clear();
  const Rule rule = rule_by_name(state.rule_name);
  const EvaluatorSettings& settings = state.settings.eval;
  for (uint32_t device_id : settings.device_ids) {
    state.evaluators.push_back(std::make_unique<eval::Evaluator>(
        settings.cache_capacity, state.width, state.height, rule, settings.input_version, settings.output_version,
        settings.batch_size, settings.intra_op_threads, settings.device, device_id, settings.device_memory_limit,
        settings.trt_engine_cache_path, settings.trt_timing_cache_path));
  }
  std::vector<eval::Evaluator*> evaluators;
  for (auto& evaluator : state.evaluators) {
    evaluator->load_model(model_path);
    evaluators.push_back(evaluator.get());
  }
  state.search = std::make_unique<decision::MCTS>(nullptr, false, 1, state.settings.num_search_threads,
                                                  state.settings.search_batch_size, evaluators);
}

// An empty board of the current rule and size; the game's moves are forgotten.
void reset_board(GameState& state) {
  state.board = std::make_unique<Board>(game_board_config(state), 0, CellArray{}, 0);
  state.moves.clear();
}

}  // namespace

void ensure_engine(GameState& state) {
  if (state.engine_dirty) {
    build_engine(state);
    reset_board(state);
    state.engine_dirty = false;
    return;
  }
  if (!state.board) throw ProtocolError("no game started: send start, rectstart or restart first");
  const Rule rule = rule_by_name(state.rule_name);
  if (state.search && state.board->config.rule == rule) return;
  // The rule changed during the game: the engine is rebuilt for the new rule, and the
  // game goes on with the same stones, judged under it.
  build_engine(state);
  if (state.board->config.rule != rule) {
    const Board& old = *state.board;
    state.board = std::make_unique<Board>(game_board_config(state), old.move_count, old.cells, old.side_to_move);
  }
}

BoardConfig game_board_config(const GameState& state) {
  return BoardConfig{rule_by_name(state.rule_name), state.height, state.width, state.settings.area_candidate_range,
                     state.settings.line_candidate_range};
}

