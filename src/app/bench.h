// `pbrain-tovan bench`: fixed positions under every rule searched to a fixed number of
// visits with one search thread and the configured networks. Prints the speed and a
// signature of the results that is the same on every run, so that a change of search
// behaviour is always noticed.
#pragma once

#include "config/settings.h"

namespace tovan::app {

// Returns the process exit status.
int run_bench(const config::Settings& settings);

}  // namespace tovan::app
