// Where config.toml and the data files it names are found, and the parsed file. It is
// read once at start-up; settings.h turns it into typed, checked settings.
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

namespace tovan::config {

struct ConfigError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Directory part of the program's argv[0]: the text before its last slash or backslash.
// When argv[0] holds no separator (a program found through PATH) the running program's
// own directory is used, since argv[0] then names no directory at all. On Windows that
// directory is always used: argv[0] comes in the ANSI code page there, which cannot spell
// every folder name.
std::filesystem::path directory_of_executable(const std::string& argv0);

// The name (UTF-8) itself when an entry of that name exists relative to the working
// directory, otherwise the name joined to `executable_directory`. Throws
// std::filesystem::filesystem_error when the existence test itself fails.
std::filesystem::path resolve_data_path(const std::string& name, const std::filesystem::path& executable_directory);

// Parses the configuration file at `path`. Throws ConfigError or the parser's exception
// for a missing, unreadable or malformed file.
std::shared_ptr<cpptoml::table> parse_config(const std::filesystem::path& path);

}  // namespace tovan::config
