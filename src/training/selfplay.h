// `pbrain-tovan selfplay`: games of the engine against itself, searched to fixed visit
// counts with the configured model, search constants and threat solver, written as
// training records (selfplay_records.h). Every random choice comes from the seed, so one
// search thread repeats a run exactly.
#pragma once

#include <string>
#include <vector>

#include "config/settings.h"

namespace tovan::training {

// `args` are the words after "selfplay". Returns the process exit status: 2 for a usage
// error, 1 when the model or the record file fails.
int run_selfplay(const config::Settings& settings, const std::vector<std::string>& args);

}  // namespace tovan::training
