#include "app/config_check.h"

#include <cpptoml.h>

#include <cmath>
#include <functional>
#include <limits>
#include <optional>

#include "board/candidates.h"

namespace {

// Adds a message for `key` to the fault list; returns the value when it is present and
// of the right type.
class Checker {
 public:
  explicit Checker(const cpptoml::table& table) : table_(table) {}

  std::optional<double> number(const std::string& key) {
    auto value = table_.get_qualified_as<double>(key);
    if (!value) {
      missing(key, "a number");
      return std::nullopt;
    }
    // The engine computes in float32: the value must survive the narrowing.
    if (!std::isfinite(static_cast<float>(*value))) {
      fault(key, "must be a finite float32 number");
      return std::nullopt;
    }
    return *value;
  }

  std::optional<int64_t> integer(const std::string& key, int64_t low = std::numeric_limits<int32_t>::min(),
                                 int64_t high = std::numeric_limits<int32_t>::max()) {
    const auto node = find(key);
    auto value = node ? node->as<int64_t>() : nullptr;
    if (!value) {
      missing(key, "an integer");
      return std::nullopt;
    }
    if (value->get() < low || value->get() > high) {
      fault(key, "must lie in " + std::to_string(low) + ".." + std::to_string(high) + " (found " +
                     std::to_string(value->get()) + ")");
      return std::nullopt;
    }
    return value->get();
  }

  void string_of(const std::string& key, const std::vector<std::string>& allowed = {}) {
    auto value = table_.get_qualified_as<std::string>(key);
    if (!value) return missing(key, "a string");
    if (allowed.empty()) return;
    for (const auto& choice : allowed) {
      if (*value == choice) return;
    }
    std::string choices;
    for (const auto& choice : allowed) choices += (choices.empty() ? "\"" : ", \"") + choice + "\"";
    fault(key, "must be one of " + choices + " (found \"" + *value + "\")");
  }

  void boolean(const std::string& key) {
    if (!table_.get_qualified_as<bool>(key)) missing(key, "a boolean");
  }

  void device_ids(const std::string& key) {
    auto values = table_.get_qualified_array_of<int64_t>(key);
    if (!values) return missing(key, "an array of integers");
    if (values->empty()) return fault(key, "must name at least one device");
    for (int64_t id : *values) {
      if (id < 0 || id > std::numeric_limits<int32_t>::max()) {
        return fault(key, "holds " + std::to_string(id) + ", which is not a device id (0.." +
                              std::to_string(std::numeric_limits<int32_t>::max()) + ")");
      }
    }
  }

  void fault(const std::string& key, const std::string& problem) { faults_.push_back(key + " " + problem); }

  std::vector<std::string> faults() const { return faults_; }

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

constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

// The opening generator needs a first-stone point and a distinct second-stone point
// within the margin of a 15 x 15 board.
constexpr int64_t kOpeningBoardSide = 15;

void check_search(Checker& check) {
  for (const char* key :
       {"search.c_puct", "search.virtual_loss_index", "search.fpu_reduction_min", "search.fpu_reduction_max",
        "search.root_soft_action_prior_temperature", "search.search_time_reduction",
        "search.fast_search_draw_rate_threshold", "search.fast_search_win_rate_threshold",
        "search.fast_search_best_action_visits_proportion_threshold", "search.move_temperature"}) {
    check.number(key);
  }
  check.integer("search.num_search_threads", 1, kInt32Max);
  check.integer("search.search_batch_size", 1, kInt32Max);
  check.integer("search.fast_search_visits_threshold");
  check.integer("search.visits_limit", 1, kInt32Max);
}

void check_opening(Checker& check) {
  check.integer("opening.margin_range", 0, (kOpeningBoardSide - 1) / 2 - 1);
  check.integer("opening.candidate_range", 1, kInt32Max);
  check.integer("opening.visits_limit", 1, kInt32Max);
  for (const char* key :
       {"opening.visits_threshold", "opening.action_value_threshold", "opening.draw_rate_threshold"}) {
    check.number(key);
  }
}

void check_candidate_ranges(Checker& check) {
  const auto area = check.integer("env.area_candidate_range", 0, kInt32Max);
  const auto line = check.integer("env.line_candidate_range", 0, kInt32Max);
  if (area && line && max_stones_covering_one_cell(*area, *line) > 255) {
    check.fault("env.area_candidate_range",
                "and env.line_candidate_range are too large: up to " +
                    std::to_string(max_stones_covering_one_cell(*area, *line)) +
                    " stones could cover one cell, and the neighbourhood counter holds at most 255");
  }
}

void check_eval(Checker& check) {
  check.device_ids("eval.device_ids");
  check.string_of("eval.device", {"cpu", "cuda", "tensorrt"});
  check.integer("eval.device_memory_limit");
  check.integer("eval.ort_intra_op_num_threads", 1, kInt32Max);
  check.integer("eval.eval_batch_size", 1, kInt32Max);
  check.integer("eval.nn_input_version", 0, 0);
  check.integer("eval.nn_output_version", 0, kInt32Max);
  check.integer("eval.evaluator_cache_capacity", 0, kInt32Max);
  check.string_of("eval.trt_engine_cache_path");
  check.string_of("eval.trt_timing_cache_path");
}

}  // namespace

std::vector<std::string> check_config(const cpptoml::table& table) {
  Checker check(table);
  check_search(check);
  check_opening(check);
  check_candidate_ranges(check);
  check_eval(check);
  check.integer("memory.default_max_memory", 0, std::numeric_limits<int64_t>::max());
  check.boolean("debug.print_move");
  return check.faults();
}
