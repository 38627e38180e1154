// The network alone, as the benchmarks compare the engine with it: one ONNX Runtime
// session of one intra-op thread running batches of ready-made 0/1 planes on 15 x 15.
#pragma once

#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "evaluation/inference_session.h"

namespace tovan {

// Runs `batch` positions per iteration through the model; items are positions.
inline void run_raw_network(benchmark::State& state, const char* model_path, int64_t batch) {
  constexpr int64_t kSide = 15;
  constexpr int64_t kChannels = 40;
  eval::InferenceSession session({});
  std::vector<float> input(static_cast<size_t>(batch * kChannels * kSide * kSide));
  std::mt19937 rng(3);
  for (float& value : input) value = static_cast<float>(rng() % 8 == 0);
  const std::vector<eval::InputTensor> inputs{{eval::kSpatialFeature, input.data(), {batch, kChannels, kSide, kSide}}};
  const eval::ModelContract contract{{{eval::kSpatialFeature, {-1, kChannels, kSide, kSide}}},
                                     {{"policy", {-1, kSide * kSide}}, {"win_rate", {}}, {"draw_rate", {}}}};
  session.load(model_path, contract, {}, inputs);
  std::vector<std::vector<float>> outputs;
  for (auto _ : state) {
    session.infer(inputs, outputs);
    benchmark::DoNotOptimize(outputs.data());
  }
  state.SetItemsProcessed(state.iterations() * batch);
}

}  // namespace tovan
