// Engine output: every line goes to standard output as one unit and is flushed at once.
#pragma once

#include <cstdint>
#include <string>

namespace tovan::app {

void say(const std::string& line);
// An error reply; the text follows "ERROR ".
void say_error(const std::string& message);
// A move as the protocol writes it: the column and the row joined by a comma ("7,7").
std::string move_reply(int32_t x, int32_t y);

}  // namespace tovan::app
