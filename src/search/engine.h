// The engine for one rule and board size: its evaluators, each loaded with the model, and
// the search over them. The protocol's games, self-play and the bench all build it here.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "board/rule.h"
#include "evaluation/evaluator.h"
#include "search/mcts.h"

namespace tovan::search {

struct EngineOptions {
  Rule rule = Rule::Freestyle;
  int32_t width = 15;
  int32_t height = 15;
  std::string model_path;  // what Evaluator::load_model takes
  eval::EvaluatorOptions evaluator{};
  std::vector<uint32_t> device_ids{0};  // one evaluator per entry, on that device
  SearchOptions search{};
  TreeThreats threats{};
};

struct Engine {
  std::vector<std::unique_ptr<eval::Evaluator>> evaluators;
  std::unique_ptr<MCTS> search;  // holds pointers to the evaluators: declared after them, destroyed first
};

// Throws what loading the model throws (eval::ModelError), and std::invalid_argument for
// options no evaluator or search takes.
Engine build_engine(const EngineOptions& options);

}  // namespace tovan::search
