// The parsed config.toml, where it is found, and typed lookups of its keys by dotted name.
//
// The table is loaded once at start-up and read-only afterwards. The lookups throw
// ConfigError naming the key when it is absent or holds another type, so a bad value is
// reported instead of being read as garbage; start-up checks every key the engine reads
// except the model files (see config_check.h), so during play only a model key can fail.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace cpptoml {
class table;
}

struct ConfigError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The directory the engine was started from; set by main.
extern std::filesystem::path executable_directory;
// The root table of config.toml; set by load_config.
extern std::shared_ptr<cpptoml::table> config;

// Directory part of the program's argv[0]: the text before its last slash or backslash.
// When argv[0] holds no separator (a program found through PATH) the running program's
// own directory is used, since argv[0] then names no directory at all.
std::filesystem::path directory_of_executable(const std::string& argv0);

// The name itself when an entry of that name exists relative to the working directory,
// otherwise the name joined to the executable's directory. Throws
// std::filesystem::filesystem_error when the existence test itself fails.
std::filesystem::path resolve_data_path(const std::string& name);

// Finds and parses config.toml, writing "DEBUG load config: <path>" first. Throws the
// parser's exception for a missing or malformed file.
void load_config();

// Typed lookups in the loaded table.
float config_float(const std::string& key);
int32_t config_int(const std::string& key);
int64_t config_int64(const std::string& key);
std::string config_string(const std::string& key);
bool config_bool(const std::string& key);
std::vector<int64_t> config_int_array(const std::string& key);
