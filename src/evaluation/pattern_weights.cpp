#include "evaluation/pattern_weights.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "evaluation/file_path.h"
#include "evaluation/inference_session.h"

namespace tovan::eval {
namespace {

constexpr const char* kFormat = "tovan-pattern-weights";
constexpr const char* kVersion = "1";

// Where each named entry goes, and how many numbers it has.
struct Entry {
  float* values;
  size_t count;
};

std::map<std::string, Entry> entries_of(PatternWeights& w) {
  auto plane = [](PlaneWeights& vector) { return Entry{vector.data(), vector.size()}; };
  auto one = [](float& value) { return Entry{&value, 1}; };
  return {{"policy_own", plane(w.policy_own)},
          {"policy_opponent", plane(w.policy_opponent)},
          {"combo_scale", one(w.combo_scale)},
          {"combo_divisor", one(w.combo_divisor)},
          {"proximity_scale", one(w.proximity_scale)},
          {"proximity_ring", Entry{w.proximity_ring.data(), w.proximity_ring.size()}},
          {"edge_per_cell", one(w.edge_per_cell)},
          {"value_own_max", plane(w.value_own_max)},
          {"value_opponent_max", plane(w.value_opponent_max)},
          {"value_own_sum", plane(w.value_own_sum)},
          {"value_opponent_sum", plane(w.value_opponent_sum)},
          {"value_tempo", one(w.value_tempo)},
          {"value_quiet", one(w.value_quiet)},
          {"value_own_five", one(w.value_own_five)},
          {"value_opponent_double_five", one(w.value_opponent_double_five)},
          {"value_own_strong", one(w.value_own_strong)},
          {"value_forced", one(w.value_forced)},
          {"value_forced_shift", one(w.value_forced_shift)},
          {"draw_bias", one(w.draw_bias)},
          {"draw_fill", one(w.draw_fill)}};
}

std::vector<std::string> words_of(const std::string& line) {
  std::istringstream stream(line.substr(0, line.find('#')));
  std::vector<std::string> words;
  for (std::string word; stream >> word;) words.push_back(word);
  return words;
}

bool parse_finite(const std::string& word, float& value) {
  double parsed = 0.0;
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), parsed);
  if (error != std::errc() || end != word.data() + word.size() || !std::isfinite(parsed)) return false;
  value = static_cast<float>(parsed);
  return std::isfinite(value);
}

}  // namespace

PatternWeights read_pattern_weights(const std::string& path) {
  std::ifstream file(path_from_utf8(path));
  if (!file) throw ModelError("cannot read pattern weights " + path);
  auto fail = [&](int line, const std::string& what) {
    throw ModelError("pattern weights " + path + ", line " + std::to_string(line) + ": " + what);
  };

  PatternWeights weights{};
  std::map<std::string, Entry> entries = entries_of(weights);
  bool headed = false;
  int number = 0;
  for (std::string line; std::getline(file, line);) {
    ++number;
    const std::vector<std::string> words = words_of(line);
    if (words.empty()) continue;
    if (!headed) {
      if (words.size() != 2 || words[0] != kFormat)
        fail(number, std::string("expected \"") + kFormat + " " + kVersion + "\"");
      if (words[1] != kVersion) fail(number, "version " + words[1] + " is not supported (only " + kVersion + ")");
      headed = true;
      continue;
    }
    const auto entry = entries.find(words[0]);
    if (entry == entries.end()) fail(number, "unknown or repeated name " + words[0]);
    if (words.size() - 1 != entry->second.count) {
      fail(number, words[0] + " takes " + std::to_string(entry->second.count) + " numbers, not " +
                       std::to_string(words.size() - 1));
    }
    for (size_t i = 0; i < entry->second.count; ++i) {
      if (!parse_finite(words[i + 1], entry->second.values[i])) fail(number, "not a finite number: " + words[i + 1]);
    }
    entries.erase(entry);
  }
  if (file.bad()) throw ModelError("cannot read pattern weights " + path);
  if (!headed) throw ModelError("pattern weights " + path + ": empty");
  if (!entries.empty()) throw ModelError("pattern weights " + path + ": missing " + entries.begin()->first);
  if (weights.combo_divisor == 0.0f) throw ModelError("pattern weights " + path + ": combo_divisor is 0");
  return weights;
}

}  // namespace tovan::eval
