#include "config/config_file.h"

#include <cpptoml.h>

#include <fstream>
#include <optional>
#include <system_error>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

namespace tovan::config {

std::filesystem::path directory_of_executable(const std::string& argv0) {
#ifdef _WIN32
  // The module's file name comes in UTF-16, whatever characters its folders have.
  std::wstring name(32768, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
  if (length > 0 && length < name.size()) return std::filesystem::path(name.substr(0, length)).parent_path();
#endif
  const size_t separator = argv0.find_last_of("/\\");
  // A program in the root folder ("/pbrain-tovan") keeps "/" as its directory.
  if (separator != std::string::npos) return std::filesystem::path(argv0.substr(0, separator == 0 ? 1 : separator));
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::current_path() : self.parent_path();
}

std::filesystem::path resolve_data_path(const std::string& name, const std::filesystem::path& executable_directory) {
  const std::filesystem::path path = eval::path_from_utf8(name);
  std::error_code error;
  const bool found = std::filesystem::exists(path, error);
  if (error) throw std::filesystem::filesystem_error("cannot look up data file", path, error);
  return found ? path : executable_directory / path;
}

std::shared_ptr<cpptoml::table> parse_config(const std::filesystem::path& path) {
  const std::string text = eval::utf8_of(path);
  // The parser would read a directory as an empty file and report every key missing.
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) {
    throw ConfigError(text + " is a directory, not a configuration file");
  }
  // Opened here rather than by the parser, which takes a narrow name: on Windows only the
  // path's own UTF-16 name reaches every folder.
  std::ifstream file(path);
  if (!file) throw cpptoml::parse_exception(text + " could not be opened for parsing");
  return cpptoml::parser(file).parse();
}

}  // namespace tovan::config
