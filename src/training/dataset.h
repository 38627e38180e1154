// `pbrain-tovan dataset`: self-play records turned into training samples, each position's
// input planes built by the engine's own feature code, so that a trainer sees exactly what
// the engine will feed its network. With a model, each sample also holds that model's
// answer as the engine computes it, for checking a trainer's or a fitter's outputs.
// docs/formats.md, "Training samples", gives the sample file's layout; tools/training_samples.py reads it.
#pragma once

#include <string>
#include <vector>

#include "config/settings.h"

namespace tovan::training {

// `args` are the words after "dataset". Returns the process exit status: 2 for a usage
// error, 1 when a record, the model or the sample file fails (the sample file is then
// removed).
int run_dataset(const config::Settings& settings, const std::vector<std::string>& args);

}  // namespace tovan::training
