#include "config/settings.h"

#include <cpptoml.h>

#include <cmath>
#include <limits>
#include <optional>

#include "board/candidates.h"
#include "config/config_file.h"

namespace tovan::config {

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
  settings.node_config =
      search::make_node_config(read.number("search.c_puct"), read.number("search.virtual_loss_index"),
                               read.number("search.fpu_reduction_min"), read.number("search.fpu_reduction_max"));
  settings.search = {.threads = read.int32("search.num_search_threads", 1),
                     .batch_size = read.int32("search.search_batch_size", 1),
                     .keep_tree = read.boolean("search.keep_tree")};
  settings.decision = {
      .root_temperature = read.number("search.root_soft_action_prior_temperature"),
      .search_time_reduction = read.number("search.search_time_reduction"),
      .fast_search_draw_rate_threshold = read.number("search.fast_search_draw_rate_threshold"),
      .fast_search_win_rate_threshold = read.number("search.fast_search_win_rate_threshold"),
      .fast_search_best_action_visits_proportion_threshold =
          read.number("search.fast_search_best_action_visits_proportion_threshold"),
      .fast_search_visits_threshold = static_cast<float>(read.int32("search.fast_search_visits_threshold")),
      .visits_limit = static_cast<float>(read.int32("search.visits_limit", 1)),
      .move_temperature = read.number("search.move_temperature"),
      .threats = {}};
}

void read_threats(Reader& read, Settings& settings) {
  constexpr int64_t kMaxNodes = 1'000'000'000;
  search::ThreatSettings& threats = settings.decision.threats;
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
      .margin_range = static_cast<int32_t>(read.integer("opening.margin_range", 0, (kOpeningBoardSide - 1) / 2 - 1)),
      .candidate_range = read.int32("opening.candidate_range", 1),
      .visits_limit = static_cast<float>(read.int32("opening.visits_limit", 1)),
      .visits_threshold = read.number("opening.visits_threshold"),
      .action_value_threshold = read.number("opening.action_value_threshold"),
      .draw_rate_threshold = read.number("opening.draw_rate_threshold")};
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

// The network's input and output versions are checked and go no further: there is one
// feature set, and every output version decodes the same way.
void read_eval(Reader& read, Settings& settings) {
  eval::DeviceOptions& device = settings.evaluator.device;
  settings.device_ids = read.device_ids("eval.device_ids");
  device.device = read.string_of("eval.device", {"cpu", "cuda", "tensorrt"});
  device.device_memory_limit = read.integer("eval.device_memory_limit", 0, std::numeric_limits<int64_t>::max());
  device.intra_op_threads = static_cast<uint32_t>(read.int32("eval.ort_intra_op_num_threads", 1));
  device.trt_engine_cache_path = read.string_of("eval.trt_engine_cache_path");
  device.trt_timing_cache_path = read.string_of("eval.trt_timing_cache_path");
  settings.evaluator.batch_size = read.int32("eval.eval_batch_size", 1);
  settings.evaluator.cache_capacity = read.int32("eval.evaluator_cache_capacity", 0);
  read.integer("eval.nn_input_version", 0, 0);
  read.int32("eval.nn_output_version", 0);
}

// Each model key looked up now, as a game would: a missing key or a failed lookup is that
// game's fault, not the configuration's, so that the other rules still play.
void find_models(const cpptoml::table& table, Settings& settings) {
  for (size_t i = 0; i < kModelKeys.size(); ++i) {
    const std::string key = std::string("eval.model.") + kModelKeys[i];
    ModelFile& model = settings.models[i];
    try {
      std::optional<std::string> name;
      try {
        if (auto found = table.get_qualified_as<std::string>(key)) name = *found;
      } catch (const std::exception& error) {
        throw ConfigError("configuration key " + key + ": " + error.what());
      }
      if (!name) throw ConfigError("configuration key " + key + " is missing or not a string");
      model.path = eval::utf8_of(resolve_data_path(*name, settings.executable_directory));
    } catch (const std::exception& error) {
      model.fault = error.what();
    }
  }
}

// Of kModelKeys: the rule's own, or Freestyle_Large for Freestyle with both sides over 15.
size_t model_index(Rule rule, int32_t width, int32_t height) {
  return rule == Rule::Freestyle && width > 15 && height > 15 ? kModelKeys.size() - 1 : static_cast<size_t>(rule);
}

std::string joined(const std::vector<std::string>& faults) {
  std::string text;
  for (const std::string& fault : faults) text += (text.empty() ? "" : "; ") + fault;
  return text;
}

}  // namespace

InvalidSettings::InvalidSettings(std::vector<std::string> faults)
    : std::runtime_error(joined(faults)), faults(std::move(faults)) {}

BoardConfig Settings::board_config(Rule rule, int32_t width, int32_t height) const {
  return BoardConfig{.rule = rule,
                     .height = height,
                     .width = width,
                     .area_candidate_range = area_candidate_range,
                     .line_candidate_range = line_candidate_range};
}

const char* Settings::model_key(Rule rule, int32_t width, int32_t height) {
  return kModelKeys[model_index(rule, width, height)];
}

const std::string& Settings::model_path(Rule rule, int32_t width, int32_t height) const {
  const ModelFile& model = models[model_index(rule, width, height)];
  if (!model.fault.empty()) throw ConfigError(model.fault);
  return model.path;
}

Settings read_settings(const cpptoml::table& table, const std::filesystem::path& executable_directory) {
  Reader read(table);
  Settings settings{};
  settings.executable_directory = executable_directory;
  read_search(read, settings);
  read_threats(read, settings);
  read_opening(read, settings);
  read_candidate_ranges(read, settings);
  read_eval(read, settings);
  settings.default_max_memory = read.integer("memory.default_max_memory", 0, std::numeric_limits<int64_t>::max());
  settings.print_move = read.boolean("debug.print_move");
  find_models(table, settings);
  if (!read.faults().empty()) throw InvalidSettings(read.faults());
  return settings;
}

}  // namespace tovan::config
