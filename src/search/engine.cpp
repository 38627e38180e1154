#include "search/engine.h"

namespace tovan::search {

Engine build_engine(const EngineOptions& options) {
  Engine engine;
  std::vector<eval::Evaluator*> evaluators;
  for (const uint32_t device_id : options.device_ids) {
    eval::EvaluatorOptions evaluator = options.evaluator;
    evaluator.device.device_id = device_id;
    engine.evaluators.push_back(
        std::make_unique<eval::Evaluator>(options.rule, options.width, options.height, evaluator));
    engine.evaluators.back()->load_model(options.model_path);
    evaluators.push_back(engine.evaluators.back().get());
  }
  engine.search = std::make_unique<MCTS>(options.search, std::move(evaluators));
  engine.search->set_tree_threats(options.threats);
  return engine;
}

}  // namespace tovan::search
