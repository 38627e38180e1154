// The four game rules and their names as the protocol and the model keys spell them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tovan {

enum class Rule : int32_t {
  Freestyle = 0,     // five or more in a row wins
  Standard = 1,      // exactly five wins
  Renju = 2,         // exactly five for Black, who has forbidden points; five or more for White
  StandardCaro = 3,  // exactly five, not blocked by the opponent at both ends
};

inline constexpr int kRuleCount = 4;

// Name to rule; throws std::out_of_range for a name that is not one of the four.
Rule rule_by_name(std::string_view name);
std::string_view rule_name(Rule rule);

}  // namespace tovan
