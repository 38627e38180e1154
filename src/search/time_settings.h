// The game manager's limits as last given by "info"; times in milliseconds.
#pragma once

#include <cstdint>
#include <optional>

namespace tovan::search {

struct TimeSettings {
  int32_t timeout_turn = 1000;
  int32_t timeout_match = 0;  // stored; no decision reads it
  // Bytes the whole process may use, 0 for no limit; unset until the manager sends one
  // (the configured default applies meanwhile).
  std::optional<int64_t> max_memory;
  int32_t time_left = 1000000;
};

}  // namespace tovan::search
