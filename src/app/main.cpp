// pbrain-tovan: a five-in-a-row engine speaking the tournament protocol on stdin/stdout.
#include <cpptoml.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/bench.h"
#include "app/output.h"
#include "config/config_file.h"
#include "config/settings.h"
#include "evaluation/file_path.h"
#include "protocol/protocol.h"
#include "training/dataset.h"
#include "training/selfplay.h"

using namespace tovan;

namespace {

// A fault that stops start-up: one ERROR line on standard output, the same on standard error.
int stop_at_startup(const std::string& message) {
  app::say_error(message);
  std::cerr << "ERROR " << message << std::endl;
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path executable_directory = config::directory_of_executable(argc > 0 ? argv[0] : "");
  std::shared_ptr<cpptoml::table> table;
  try {
    const std::filesystem::path path = config::resolve_data_path("config.toml", executable_directory);
    app::say("DEBUG load config: " + eval::utf8_of(path));
    table = config::parse_config(path);
  } catch (const std::exception& error) {
    return stop_at_startup(std::string("cannot load configuration: ") + error.what());
  }
  config::Settings settings;
  try {
    settings = config::read_settings(*table, executable_directory);
  } catch (const config::InvalidSettings& error) {
    return stop_at_startup(std::string("invalid configuration: ") + error.what());
  }
  const std::string command = argc > 1 ? argv[1] : "";
  const std::vector<std::string> args(argv + std::min(argc, 2), argv + argc);
  // "bench" measures the search instead of serving the protocol.
  if (command == "bench") return app::run_bench(settings);
  // "selfplay" plays the engine against itself and writes training records.
  if (command == "selfplay") return training::run_selfplay(settings, args);
  // "dataset" turns self-play records into training samples.
  if (command == "dataset") return training::run_dataset(settings, args);
  return protocol::run(settings);
}
