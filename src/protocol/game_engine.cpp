#include "protocol/game_engine.h"

#include <algorithm>

#include "app/output.h"
#include "protocol/protocol_input.h"
#include "search/process_memory.h"
#include "search/root_threats.h"

namespace tovan::protocol {

namespace {

// Resident bytes outside every budget and the solvers' tables. On 20 x 20 the process
// holds 17 MB after start-up (the program and 9.4 MB of pattern tables), 24 MB once a game's
// engine with the built-in evaluator is built, and 48 MB with one ONNX Runtime session
// instead; play adds a few MiB that no budget counts (the network runtime's batch buffers,
// feature buffers, leaf boards, a code network's remembered cells). A network's allowance
// leaves room for a second session, and headroom.
constexpr int64_t kFixedBytesInProcess = int64_t{32} << 20;
constexpr int64_t kFixedBytesNetwork = int64_t{90} << 20;
// Of what the limit leaves after the allowance, the tenths the caches and the tree may
// count; the rest is for the heap's fragmentation. Trees rebuilt every move interleave
// with cache entries that live longer, and the blocks freed between them are not always
// reusable: at 350 MB, sixteen long searches in a row with every budget full crept from
// 291 MB to 314 MB and stayed there, 24 MB or 12% of the counted bytes.
constexpr int64_t kCountedTenths = 8;

// Puts the memory limit in force: the manager's, else the configured default; 0 for none.
// Eight tenths of what the limit leaves after the fixed allowance and the solvers' tables
// are counted: half goes to the tree (4 MiB at least), half to the evaluators' caches in
// equal parts; the search watches resident memory against the whole limit. After
// a rebuild or a change of limit, the heap's free pages go back to the system, so that a
// lower limit and a new game start from what is in use.
void apply_memory_limit(GameState& state, bool rebuilt) {
  const int64_t limit = state.time.max_memory.value_or(state.settings.default_max_memory);
  if (!rebuilt && limit == state.memory_limit) return;
  state.memory_limit = limit;
  search::Engine& engine = state.engine;
  int64_t tree = search::MCTS::kNoTreeLimit;
  int64_t cache_each = eval::EvalCache::kNoByteLimit;
  if (limit > 0) {
    const bool in_process = std::ranges::all_of(engine.evaluators, [](const auto& evaluator) {
      return evaluator->answers_in_submit();
    });
    const int64_t fixed = (in_process ? kFixedBytesInProcess : kFixedBytesNetwork) + engine.search->solver_bytes();
    const int64_t available = std::max<int64_t>(0, limit - fixed) / 10 * kCountedTenths;
    tree = std::max(available / 2, search::MCTS::kMinTreeBytes);
    cache_each = (available - available / 2) / static_cast<int64_t>(engine.evaluators.size());
  }
  for (auto& evaluator : engine.evaluators) evaluator->set_cache_budget(cache_each);
  engine.search->set_tree_budget(tree, [](const std::string& line) { app::say(line); });
  engine.search->set_memory_limit(limit);
  search::release_free_memory();
}

// Evaluators loaded with the model for the current rule and size, and the search over them.
// The old engine goes first, so that two never hold memory at once; a failed build leaves
// no search, so the next request builds again.
void build_engine(GameState& state) {
  const config::Settings& settings = state.settings;
  const std::string& model_path = settings.model_path(state.rule, state.width, state.height);
  const char* kind = eval::Evaluator::board_evaluator_kind(model_path);
  app::say("DEBUG load model: " + model_path + (kind != nullptr ? std::string(" (") + kind + ")" : ""));
  state.engine.search.reset();  // it holds pointers to the evaluators
  state.engine.evaluators.clear();
  state.engine = search::build_engine({.rule = state.rule,
                                       .width = state.width,
                                       .height = state.height,
                                       .model_path = model_path,
                                       .evaluator = settings.evaluator,
                                       .device_ids = settings.device_ids,
                                       .search = settings.search,
                                       .threats = search::tree_threats(settings.decision.threats)});
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
    return apply_memory_limit(state, true);
  }
  if (!state.board) throw ProtocolError("no game started: send start, rectstart or restart first");
  const Rule rule = state.rule;
  if (state.engine.search && state.board->config().rule == rule) return apply_memory_limit(state, false);
  // The rule changed during the game: the engine is rebuilt for the new rule, and the
  // game goes on with the same stones, judged under it.
  build_engine(state);
  if (state.board->config().rule != rule) {
    const Board& old = *state.board;
    state.board = std::make_unique<Board>(game_board_config(state), old.move_count(), old.cells(), old.side_to_move());
  }
  apply_memory_limit(state, true);
}

BoardConfig game_board_config(const GameState& state) {
  return state.settings.board_config(state.rule, state.width, state.height);
}

}  // namespace tovan::protocol
