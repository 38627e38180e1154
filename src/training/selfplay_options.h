// The command line of `pbrain-tovan selfplay`: what games to play, how hard to search them
// and where to write their records (docs/training.md, "Self-play").
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "board/rule.h"

namespace tovan::training {

struct SelfplayOptions {
  Rule rule = Rule::Freestyle;
  int32_t width = 15;
  int32_t height = 15;
  int64_t games = 10;
  std::string out = "selfplay.tvsp";
  uint64_t seed = 1;
  int32_t full_visits = 800;
  int32_t fast_visits = 100;
  double full_share = 0.25;  // chance that a move is searched fully (and recorded)
  int32_t temperature_moves = 8;
  int32_t threads = 1;
  bool help = false;
};

struct SelfplayUsageError : std::invalid_argument {
  using std::invalid_argument::invalid_argument;
};

// The options after the word "selfplay"; throws SelfplayUsageError naming the first
// faulty one.
SelfplayOptions parse_selfplay_options(const std::vector<std::string>& args);

// The option list, for --help and after a usage error.
extern const char* const kSelfplayUsage;

}  // namespace tovan::training
