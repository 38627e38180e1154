#include "board/rule.h"

#include <array>
#include <stdexcept>
#include <utility>

namespace tovan {

namespace {
constexpr std::array<std::pair<std::string_view, Rule>, kRuleCount> kRuleNames = {{
    {"Freestyle", Rule::Freestyle},
    {"Standard", Rule::Standard},
    {"Renju", Rule::Renju},
    {"StandardCaro", Rule::StandardCaro},
}};
}  // namespace

Rule rule_by_name(std::string_view name) {
  for (const auto& [rule_text, rule] : kRuleNames) {
    if (rule_text == name) return rule;
  }
  throw std::out_of_range("unknown rule name: " + std::string(name));
}

std::string_view rule_name(Rule rule) { return kRuleNames.at(static_cast<size_t>(rule)).first; }

}  // namespace tovan
