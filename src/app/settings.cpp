#include "app/settings.h"

#include <cpptoml.h>

#include <cmath>
#include <limits>
#include <optional>

#include "board/candidates.h"

namespace {

constexpr int64_t kInt32Min = std::numeric_limits<int32_t>::min();
constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

// The opening generator needs a first-stone point and a distinct second-stone point
// within the margin of a 15 x 15 board.
constexpr int64_t kOpeningBoardSide = 15;

// Reads keys of the table; a key that is absent, of another type or out of its range adds
// a fault naming it and reads as zero (or empty), so that every fault is found in one pass.
class Reader {
 public:
  explicit Reader(const cpptoml::table& table) : table_(table) {}

  float number(const std::string& key) {
    auto value = table_.get_qualified_as<double>(key);
    if (!value) return missing(key, "a number"), 0.0f;
    // The engine computes in float32: the value must survive the narrowing.
    if (!std::isfinite(static_cast<float>(*value))) return fault(key, "must be a finite float32 number"), 0.0f;
    return static_cast<float>(*value);
  }

  int64_t integer(const std::string& key, int64_t low = kInt32Min, int64_t high = kInt32Max) {
    const auto node = find(key);
    auto value = node ? node->as<int64_t>() : nullptr;
    if (!value) return missing(key, "an integer"), 0;
    if (value->get() < low || value->get() > high) {
      fault(key, "must lie in " + std::to_string(low) + ".." + std::to_string(high) + " (found " +
                     std::to_string(value->get()) + ")");
      return 0;
    }
    return value->get();
  }

  int32_t int32(const std::string& key, int64_t low = kInt32Min) {
    return static_cast<int32_t>(integer(key, low, kInt32Max));
  }

  std::string string_of(const std::string& key, const std::vector<std::string>& allowed = {}) {
    auto value = table_.get_qualified_as<std::string>(key);
    if (!value) return missing(key, "a string"), "";
    if (allowed.empty()) return *value;
    for (const auto& choice : allowed) {
      if (*value == choice) return *value;
    }
    std::string choices;
    for (const auto& choice : allowed) choices += (choices.empty() ? "\"" : ", \"") + choice + "\"";
    fault(key, "must be one of " + choices + " (found \"" + *value + "\")");
    return "";
  }

  bool boolean(const std::string& key) {
    auto value = table_.get_qualified_as<bool>(key);
    if (!value) return missing(key, "a boolean"), false;
    return *value;
  }

  std::vector<uint32_t> device_ids(const std::string& key) {
    auto values = table_.get_qualified_array_of<int64_t>(key);
    if (!values) return missing(key, "an array of integers"), std::vector<uint32_t>{};
    if (values->empty()) return fault(key, "must name at least one device"), std::vector<uint32_t>{};
    std::vector<uint32_t> ids;
    for (int64_t id : *values) {
      if (id < 0 || id > kInt32Max) {
        fault(key, "holds " + std::to_string(id) + ", which is not a device id (0.." + std::to_string(kInt32Max) + ")");
        return {};
      }
      ids.push_back(static_cast<uint32_t>(id));
    }
    return ids;
  }

  void fault(const std::string& key, const std::string& problem) { faults_.push_back(key + " " + problem); }

  const std::vector<std::string>& faults() const { return faults_; }

 private:
  std::shared_ptr<cpptoml::base> find(const std::string& key) const {
    try {
      return table_.get_qualified(key);
    } catch (const std::out_of_range&) {
      return nullptr;
    }
  }

  void missing(const std::string& key, const char* type_name) {
    fault(key, find(key) ? std::string("must be ") + type_name : std::string("is missing"));
  }

  const cpptoml::table& table_;
  std::vector<std::string> faults_;
};

void read_search(Reader& read, Settings& settings) {
  settings.node_config = make_node_config(read.number("search.c_puct"), read.number("search.virtual_loss_index"),
                                          read.number("search.fpu_reduction_min"),
                                          read.number("search.fpu_reduction_max"));
  settings.num_search_threads = read.int32("search.num_search_threads", 1);
  settings.search_batch_size = read.int32("search.search_batch_size", 1);
  settings.decision = {read.number("search.root_soft_action_prior_temperature"),
                       read.number("search.search_time_reduction"),
                       read.number("search.fast_search_draw_rate_threshold"),
                       read.number("search.fast_search_win_rate_threshold"),
                       read.number("search.fast_search_best_action_visits_proportion_threshold"),
                       static_cast<float>(read.int32("search.fast_search_visits_threshold")),
                       static_cast<float>(read.int32("search.visits_limit", 1)),
                       read.number("search.move_temperature"),
                       {}};
}

void read_threats(Reader& read, Settings& settings) {
  constexpr int64_t kMaxNodes = 1'000'000'000;
  decision::ThreatSettings& threats = settings.decision.threats;
  threats.enabled = read.boolean("threats.enabled");
  threats.max_fours = static_cast<int32_t>(read.integer("threats.max_fours", 1, 100));
  threats.vct_threes = static_cast<int32_t>(read.integer("threats.vct_threes", 0, 10));
  threats.root_nodes = read.integer("threats.root_nodes", 1, kMaxNodes);
  threats.root_time_share = read.number("threats.root_time_share");
  if (!(threats.root_time_share >= 0.0f && threats.root_time_share <= 1.0f)) {
    read.fault("threats.root_time_share", "must lie in 0..1");
  }
  threats.tree_nodes = read.integer("threats.tree_nodes", 0, kMaxNodes);
  threats.tree_vct_visits = static_cast<int32_t>(read.integer("threats.tree_vct_visits", 0, 1'000'000));
  threats.tree_vct_nodes = read.integer("threats.tree_vct_nodes", 1, kMaxNodes);
}

void read_opening(Reader& read, Settings& settings) {
  settings.opening = {
      static_cast<int32_t>(read.integer("opening.margin_range", 0, (kOpeningBoardSide - 1) / 2 - 1)),
      read.int32("opening.candidate_range", 1),
      static_cast<float>(read.int32("opening.visits_limit", 1)),
      read.number("opening.visits_threshold"),
      read.number("opening.action_value_threshold"),
      read.number("opening.draw_rate_threshold")};
}

void read_candidate_ranges(Reader& read, Settings& settings) {
  settings.area_candidate_range = read.int32("env.area_candidate_range", 0);
  settings.line_candidate_range = read.int32("env.line_candidate_range", 0);
  const int64_t stones = max_stones_covering_one_cell(settings.area_candidate_range, settings.line_candidate_range);
  if (stones > 255) {
    read.fault("env.area_candidate_range", "and env.line_candidate_range are too large: up to " +
                                               std::to_string(stones) +
                                               " stones could cover one cell, and the neighbourhood counter "
                                               "holds at most 255");
  }
}

void read_eval(Reader& read, Settings& settings) {
  EvaluatorSettings& eval = settings.eval;
  eval.device_ids = read.device_ids("eval.device_ids");
  eval.device = read.string_of("eval.device", {"cpu", "cuda", "tensorrt"});
  eval.device_memory_limit = read.int32("eval.device_memory_limit");
  eval.intra_op_threads = static_cast<uint32_t>(read.int32("eval.ort_intra_op_num_threads", 1));
  eval.batch_size = read.int32("eval.eval_batch_size", 1);
  eval.input_version = static_cast<uint32_t>(read.integer("eval.nn_input_version", 0, 0));
  eval.output_version = static_cast<uint32_t>(read.int32("eval.nn_output_version", 0));
  eval.cache_capacity = read.int32("eval.evaluator_cache_capacity", 0);
  eval.trt_engine_cache_path = read.string_of("eval.trt_engine_cache_path");
  eval.trt_timing_cache_path = read.string_of("eval.trt_timing_cache_path");
}

std::string joined(const std::vector<std::string>& faults) {
  std::string text;
  for (const std::string& fault : faults) text += (text.empty() ? "" : "; ") + fault;
  return text;
}

}  // namespace

InvalidSettings::InvalidSettings(std::vector<std::string> faults)
    : std::runtime_error(joined(faults)), faults(std::move(faults)) {}

Settings read_settings(const cpptoml::table& table) {
  Reader read(table);
  Settings settings{};
  read_search(read, settings);
  read_threats(read, settings);
  read_opening(read, settings);
  read_candidate_ranges(read, settings);
  read_eval(read, settings);
  settings.default_max_memory = read.integer("memory.default_max_memory", 0, std::numeric_limits<int64_t>::max());
  settings.print_move = read.boolean("debug.print_move");
  if (!read.faults().empty()) throw InvalidSettings(read.faults());
  return settings;
}
