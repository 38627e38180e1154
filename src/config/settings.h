// Everything the engine is tuned by, read from config.toml once at start-up with every
// key's type and range checked and each rule's model file looked up, so that play never
// meets a bad value nor looks anything up by name.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "board/board.h"
#include "evaluation/evaluator.h"
#include "search/decision.h"
#include "search/mcts.h"
#include "search/node_config.h"
#include "search/opening.h"

namespace cpptoml {
class table;
}

namespace tovan::config {

// A model file as found at start-up: its path, or why none was found, which is reported
// when a game needs it.
struct ModelFile {
  std::string path;  // UTF-8
  std::string fault;
};

// The model keys of [eval.model]: one per rule, and "Freestyle_Large" for Freestyle when
// both sides of the board are over 15.
inline constexpr std::array<const char*, 5> kModelKeys = {"Freestyle", "Standard", "Renju", "StandardCaro",
                                                          "Freestyle_Large"};

struct Settings {
  search::NodeConfig node_config;
  search::SearchOptions search;
  search::DecisionSettings decision;
  search::OpeningSettings opening;
  int32_t area_candidate_range;
  int32_t line_candidate_range;
  eval::EvaluatorOptions evaluator;                 // its device id comes from device_ids
  std::vector<uint32_t> device_ids;                 // one evaluator per entry, in order
  std::array<ModelFile, kModelKeys.size()> models;  // in the order of kModelKeys
  int64_t default_max_memory;                       // bytes (0: no limit), when the manager gives none
  bool print_move;                                  // search reports carry the principal variation
  std::filesystem::path executable_directory;       // where data files are looked for second

  // The board of a game of `rule` on `width` x `height`, with the candidate ranges.
  BoardConfig board_config(Rule rule, int32_t width, int32_t height) const;
  // The model file for that game; throws ConfigError with the fault found at start-up.
  const std::string& model_path(Rule rule, int32_t width, int32_t height) const;
  // The model's key in [eval.model] for that game.
  static const char* model_key(Rule rule, int32_t width, int32_t height);
};

// Every faulty key of a configuration, each message starting with the key's dotted name.
struct InvalidSettings : std::runtime_error {
  explicit InvalidSettings(std::vector<std::string> faults);
  std::vector<std::string> faults;
};

// Throws InvalidSettings naming every faulty key. Model files are looked for in the
// working directory, then in `executable_directory`.
Settings read_settings(const cpptoml::table& table, const std::filesystem::path& executable_directory);

}  // namespace tovan::config
