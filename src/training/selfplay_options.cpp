#include "training/selfplay_options.h"

#include <charconv>
#include <functional>
#include <map>
#include <sstream>

#include "board/geometry.h"

namespace tovan::training {

const char* const kSelfplayUsage =
    "usage: pbrain-tovan selfplay [options]\n"
    "  --rule freestyle|standard|renju|caro   rule of every game (freestyle)\n"
    "  --size N | --width N --height N         board, 5..20 (15)\n"
    "  --games N                               games to play (10)\n"
    "  --out FILE                              record file, created or emptied (selfplay.tvsp)\n"
    "  --seed S                                seed of every random choice (1)\n"
    "  --full-visits N                         root visits of a full search, recorded (800)\n"
    "  --fast-visits N                         root visits of a fast search, not recorded (100)\n"
    "  --full-share P                          chance, 0..1, that a move is searched fully (0.25)\n"
    "  --temperature-moves K                   moves drawn from the visit weights before the best is played (8)\n"
    "  --threads N                             search threads, 1..64; more than 1 does not repeat (1)\n";

namespace {

template <typename T>
T number(const std::string& option, const std::string& text, T low, T high) {
  T value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size() || !(value >= low && value <= high)) {
    std::ostringstream message;
    message << option << " takes a number from " << low << " to " << high << ", not '" << text << "'";
    throw SelfplayUsageError(message.str());
  }
  return value;
}

Rule rule_of(const std::string& text) {
  static const std::map<std::string, Rule> rules = {{"freestyle", Rule::Freestyle},
                                                    {"standard", Rule::Standard},
                                                    {"renju", Rule::Renju},
                                                    {"caro", Rule::StandardCaro}};
  const auto found = rules.find(text);
  if (found == rules.end())
    throw SelfplayUsageError("--rule takes freestyle, standard, renju or caro, not '" + text + "'");
  return found->second;
}

}  // namespace

SelfplayOptions parse_selfplay_options(const std::vector<std::string>& args) {
  SelfplayOptions o;
  using Setter = std::function<void(const std::string& option, const std::string& value)>;
  const std::map<std::string, Setter> setters = {
      {"--rule", [&](auto&, auto& v) { o.rule = rule_of(v); }},
      {"--size", [&](auto& n, auto& v) { o.width = o.height = number(n, v, kMinSide, kMaxSide); }},
      {"--width", [&](auto& n, auto& v) { o.width = number(n, v, kMinSide, kMaxSide); }},
      {"--height", [&](auto& n, auto& v) { o.height = number(n, v, kMinSide, kMaxSide); }},
      {"--games", [&](auto& n, auto& v) { o.games = number<int64_t>(n, v, 1, int64_t{1} << 40); }},
      {"--out", [&](auto&, auto& v) { o.out = v; }},
      {"--seed", [&](auto& n, auto& v) { o.seed = number<uint64_t>(n, v, 0, UINT64_MAX); }},
      {"--full-visits", [&](auto& n, auto& v) { o.full_visits = number(n, v, 2, 10'000'000); }},
      {"--fast-visits", [&](auto& n, auto& v) { o.fast_visits = number(n, v, 2, 10'000'000); }},
      {"--full-share", [&](auto& n, auto& v) { o.full_share = number(n, v, 0.0, 1.0); }},
      {"--temperature-moves", [&](auto& n, auto& v) { o.temperature_moves = number(n, v, 0, kCellCount); }},
      {"--threads", [&](auto& n, auto& v) { o.threads = number(n, v, 1, 64); }},
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& option = args[i];
    if (option == "--help") {
      o.help = true;
      continue;
    }
    const auto setter = setters.find(option);
    if (setter == setters.end()) throw SelfplayUsageError("unknown option '" + option + "'");
    if (i + 1 == args.size() || args[i + 1].empty()) throw SelfplayUsageError(option + " needs a value");
    setter->second(option, args[++i]);
  }
  return o;
}

}  // namespace tovan::training
