// The game manager's limits as last given by "info"; times in milliseconds.
#pragma once

#include <cstdint>

struct TimeSettings {
  int32_t timeout_turn = 1000;
  int32_t timeout_match = 0;  // stored; no decision reads it
  int32_t max_memory = 0;     // stored; no decision reads it
  int32_t time_left = 1000000;
};
