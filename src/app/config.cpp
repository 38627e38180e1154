#include "app/config.h"

#include <cpptoml.h>

#include <optional>
#include <system_error>

#include "app/output.h"

std::filesystem::path executable_directory;
std::shared_ptr<cpptoml::table> config;

std::filesystem::path directory_of_executable(const std::string& argv0) {
  const size_t separator = argv0.find_last_of("/\\");
  // A program in the root folder ("/pbrain-tovan") keeps "/" as its directory.
  if (separator != std::string::npos) return std::filesystem::path(argv0.substr(0, separator == 0 ? 1 : separator));
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::current_path() : self.parent_path();
}

std::filesystem::path resolve_data_path(const std::string& name) {
  const std::filesystem::path path(name);
  std::error_code error;
  const bool found = std::filesystem::exists(path, error);
  if (error) throw std::filesystem::filesystem_error("cannot look up data file", path, error);
  return found ? path : executable_directory / path;
}

void load_config() {
  const std::filesystem::path path = resolve_data_path("config.toml");
  say("DEBUG load config: " + path.string());
  // The parser would read a directory as an empty file and report every key missing.
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) {
    throw ConfigError(path.string() + " is a directory, not a configuration file");
  }
  config = cpptoml::parse_file(path.string());
}

namespace {

template <typename T>
T lookup(const std::string& key, const char* type_name) {
  std::optional<T> value;
  try {
    if (auto found = config->get_qualified_as<T>(key)) value = *found;
  } catch (const std::exception& e) {
    throw ConfigError("configuration key " + key + ": " + e.what());
  }
  if (!value) throw ConfigError("configuration key " + key + " is missing or not " + type_name);
  return *value;
}

}  // namespace

float config_float(const std::string& key) { return static_cast<float>(lookup<double>(key, "a number")); }

int32_t config_int(const std::string& key) { return lookup<int32_t>(key, "an integer"); }

int64_t config_int64(const std::string& key) { return lookup<int64_t>(key, "an integer"); }

std::string config_string(const std::string& key) { return lookup<std::string>(key, "a string"); }

bool config_bool(const std::string& key) { return lookup<bool>(key, "a boolean"); }

std::vector<int64_t> config_int_array(const std::string& key) {
  auto values = config->get_qualified_array_of<int64_t>(key);
  if (!values) throw ConfigError("configuration key " + key + " is missing or not an array of integers");
  return *values;
}
