// The parsed config.toml and where it is found. The table is loaded once at start-up and
// read-only afterwards; settings.h reads and checks every key in it but the model files,
// which config_string looks up when a game needs one.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "evaluation/file_path.h"

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
// own directory is used, since argv[0] then names no directory at all. On Windows that
// directory is always used: argv[0] comes in the ANSI code page there, which cannot spell
// every folder name.
std::filesystem::path directory_of_executable(const std::string& argv0);

// The name (UTF-8) itself when an entry of that name exists relative to the working
// directory, otherwise the name joined to the executable's directory. Throws
// std::filesystem::filesystem_error when the existence test itself fails.
std::filesystem::path resolve_data_path(const std::string& name);

// Finds and parses config.toml, writing "DEBUG load config: <path>" first. Throws the
// parser's exception for a missing or malformed file.
void load_config();

// A string of the loaded table; throws ConfigError naming the key when it is absent or
// holds another type.
std::string config_string(const std::string& key);
