#include "app/engine.h"

#include <malloc.h>

#include <algorithm>

#include "app/config.h"
#include "app/output.h"
#include "app/protocol_input.h"

NodeConfig read_node_config() {
  return make_node_config(config_float("search.c_puct"), config_float("search.virtual_loss_index"),
                          config_float("search.fpu_reduction_min"), config_float("search.fpu_reduction_max"));
}

std::string model_name(const std::string& rule_name, int32_t height, int32_t width) {
  return rule_name == "Freestyle" && height > 15 && width > 15 ? "Freestyle_Large" : rule_name;
}

namespace {

// Resident bytes outside every budget. Built for 20 x 20 with the shipped networks, the
// process holds 74 MiB (the program and ONNX Runtime's code, 42 MiB of pattern tables,
// two inference sessions); playing adds about 8 MiB that no budget counts (the network
// runtime's batch buffers, feature buffers, leaf boards, allocator slack), so a game
// with caches and tree at their budgets peaked 83 MiB above them. The rest is headroom.
constexpr int64_t kFixedBytes = int64_t{90} << 20;
// Of what the limit leaves after the allowance, the tenths the caches and the tree may
// count; the rest is for the heap's fragmentation. Trees rebuilt every move interleave
// with cache entries that live longer, and the blocks freed between them are not always
// reusable: with every budget full at 350 MB, eight long searches in a row went 16 MB
// (6%) past the counted bytes, still creeping up.
constexpr int64_t kCountedTenths = 8;
// A limit that leaves less than this to the tree still lets the tree have it.
constexpr int64_t kMinTreeBytes = int64_t{4} << 20;

// Puts the memory limit in force: the manager's, else the configured default; 0 for none.
// Eight tenths of what the limit leaves after the fixed allowance are counted: half goes
// to the tree, half to the evaluators' caches in equal parts. After a rebuild or a change
// of limit, the heap's free pages go back to the system, so that a lower limit and a new
// game start from what is in use.
void apply_memory_limit(GameState& state, bool rebuilt) {
  const int64_t limit = state.time.max_memory.value_or(config_int64("memory.default_max_memory"));
  if (!rebuilt && limit == state.memory_limit) return;
  state.memory_limit = limit;
  int64_t tree = decision::MCTS::kNoTreeLimit;
  int64_t cache_each = eval::EvalCache::kNoByteLimit;
  if (limit > 0) {
    const int64_t available = std::max<int64_t>(0, limit - kFixedBytes) / 10 * kCountedTenths;
    tree = std::max(available / 2, kMinTreeBytes);
    cache_each = (available - available / 2) / static_cast<int64_t>(state.evaluators.size());
  }
  for (auto& evaluator : state.evaluators) evaluator->set_cache_budget(cache_each);
  state.search->set_tree_budget(tree, [](const std::string& line) { say(line); });
  malloc_trim(0);
}

void build_engine(GameState& state) {
  const std::string model_path =
      resolve_data_path(config_string("eval.model." + model_name(state.rule_name, state.height, state.width))).string();
  say("DEBUG load model: " + model_path);

  // The old search first: it holds pointers to the old evaluators.
  state.search.reset();
  state.evaluators.clear();
  const Rule rule = rule_by_name(state.rule_name);
  for (int64_t device_id : config_int_array("eval.device_ids")) {
    state.evaluators.push_back(std::make_unique<eval::Evaluator>(
        config_int("eval.evaluator_cache_capacity"), state.width, state.height, rule,
        static_cast<uint32_t>(config_int("eval.nn_input_version")),
        static_cast<uint32_t>(config_int("eval.nn_output_version")), config_int("eval.eval_batch_size"),
        static_cast<uint32_t>(config_int("eval.ort_intra_op_num_threads")), config_string("eval.device"),
        static_cast<uint32_t>(device_id), config_int("eval.device_memory_limit"),
        config_string("eval.trt_engine_cache_path"), config_string("eval.trt_timing_cache_path")));
  }
  std::vector<eval::Evaluator*> evaluators;
  for (auto& evaluator : state.evaluators) {
    evaluator->load_model(model_path);
    evaluators.push_back(evaluator.get());
  }
  state.search = std::make_unique<decision::MCTS>(nullptr, false, 1, config_int("search.num_search_threads"),
                                                  config_int("search.search_batch_size"), evaluators);
  reset_board(state);
  state.engine_dirty = false;
}

}  // namespace

void ensure_engine(GameState& state) {
  const bool rebuild = state.engine_dirty;
  if (rebuild) {
    build_engine(state);
  } else if (!state.board) {
    throw ProtocolError("no game started: send start, rectstart or restart first");
  }
  apply_memory_limit(state, rebuild);
}

std::unique_ptr<Board> new_game_board(const GameState& state) {
  const BoardConfig board_config{rule_by_name(state.rule_name), state.height, state.width,
                                 config_int("env.area_candidate_range"), config_int("env.line_candidate_range")};
  return std::make_unique<Board>(board_config, 0, CellArray{}, 0);
}

void reset_board(GameState& state) { state.board = new_game_board(state); }
