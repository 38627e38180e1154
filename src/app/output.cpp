#include "app/output.h"

#include <iostream>

namespace tovan::app {

void say(const std::string& line) { std::cout << line << '\n' << std::flush; }

void say_error(const std::string& message) { say("ERROR " + message); }

std::string move_reply(int32_t x, int32_t y) { return std::to_string(x) + "," + std::to_string(y); }

}  // namespace tovan::app
