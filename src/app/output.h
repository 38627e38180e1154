// Engine output: every line goes to standard output as one unit and is flushed at once.
#pragma once

#include <string>

void say(const std::string& line);
// An error reply; the text follows "ERROR ".
void say_error(const std::string& message);
