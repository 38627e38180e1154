// The protocol loop: reads commands from standard input and answers on standard output.
#pragma once

#include "config/settings.h"

namespace tovan::protocol {

// Serves commands until "exit", "end" or the end of input; returns the exit status (0).
// Each command's failure becomes one "ERROR <command>: <reason>" line and the loop goes on.
int run(const config::Settings& settings);

}  // namespace tovan::protocol
