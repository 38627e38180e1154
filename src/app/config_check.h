// Start-up check of the configuration: every key the engine reads during play (all but
// the model files, which are checked when the model for the rule in play is chosen) must
// be present, of its type and in its range.
#pragma once

#include <string>
#include <vector>

namespace cpptoml {
class table;
}

// One message per faulty key, each starting with the key's dotted name; empty when the
// table is sound.
std::vector<std::string> check_config(const cpptoml::table& table);
