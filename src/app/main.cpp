// pbrain-tovan: a five-in-a-row engine speaking the tournament protocol on stdin/stdout.
#include <iostream>
#include <string>
#include <vector>

#include "app/bench.h"
#include "app/dataset.h"
#include "app/config.h"
#include "app/output.h"
#include "app/protocol.h"
#include "app/selfplay.h"
#include "app/settings.h"
#include "board/forbidden.h"

namespace {

// A fault that stops start-up: one ERROR line on standard output, the same on standard error.
int stop_at_startup(const std::string& message) {
  say_error(message);
  std::cerr << "ERROR " << message << std::endl;
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  set_slow_update_reporter(warn);
  executable_directory = directory_of_executable(argc > 0 ? argv[0] : "");
  try {
    load_config();
  } catch (const std::exception& error) {
    return stop_at_startup(std::string("cannot load configuration: ") + error.what());
  }
  Settings settings;
  try {
    settings = read_settings(*config);
  } catch (const InvalidSettings& error) {
    return stop_at_startup(std::string("invalid configuration: ") + error.what());
  }
  // "bench" as the first argument measures the search instead of serving the protocol.
  if (argc > 1 && std::string(argv[1]) == "bench") return run_bench(settings);
  // "selfplay" plays the engine against itself and writes training records.
  if (argc > 1 && std::string(argv[1]) == "selfplay") return run_selfplay(settings, {argv + 2, argv + argc});
  // "dataset" turns self-play records into training samples.
  if (argc > 1 && std::string(argv[1]) == "dataset") return run_dataset(settings, {argv + 2, argv + argc});
  return run(settings);
}
