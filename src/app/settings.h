// Everything the engine is tuned by, read from config.toml once at start-up with every
// key's type and range checked, so that play never meets a bad value. The model files are
// the exception: each is looked up when a game needs it (see engine.h).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "search/decision.h"
#include "search/node_config.h"
#include "search/opening.h"

namespace cpptoml {
class table;
}

struct EvaluatorSettings {
  std::vector<uint32_t> device_ids;  // one evaluator per entry, in order
  std::string device;                // "cpu", "cuda" or "tensorrt"
  int64_t device_memory_limit;
  uint32_t intra_op_threads;
  int32_t batch_size;
  uint32_t input_version;
  uint32_t output_version;
  int32_t cache_capacity;
  std::string trt_engine_cache_path;
  std::string trt_timing_cache_path;
};

struct Settings {
  NodeConfig node_config;
  int32_t num_search_threads;
  int32_t search_batch_size;
  decision::DecisionSettings decision;
  decision::OpeningSettings opening;
  int32_t area_candidate_range;
  int32_t line_candidate_range;
  EvaluatorSettings eval;
  int64_t default_max_memory;  // bytes (0: no limit), when the manager gives none
  bool print_move;  // search reports carry the principal variation
};

// Every faulty key of a configuration, each message starting with the key's dotted name.
struct InvalidSettings : std::runtime_error {
  explicit InvalidSettings(std::vector<std::string> faults);
  std::vector<std::string> faults;
};

// Throws InvalidSettings naming every faulty key.
Settings read_settings(const cpptoml::table& table);
