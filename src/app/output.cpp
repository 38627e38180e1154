#include "app/output.h"

#include <iostream>

void say(const std::string& line) { std::cout << line << '\n' << std::flush; }

void say_error(const std::string& message) { say("ERROR " + message); }
