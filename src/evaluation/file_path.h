// File names travel through the engine as UTF-8 text (config.toml is UTF-8, and so are the
// lines the engine prints). These turn such text into a path the system opens, and back:
// on Windows a path holds UTF-16, which is also what ONNX Runtime takes there.
#pragma once

#include <filesystem>
#include <string>

namespace tovan::eval {

inline std::filesystem::path path_from_utf8(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

inline std::string utf8_of(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace tovan::eval
