#include "protocol/protocol_input.h"

#include <cctype>
#include <limits>
#include <sstream>

namespace tovan::protocol {

std::string to_lower_ascii(std::string word) {
  for (char& c : word) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return word;
}

namespace {
bool is_space(int c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
bool is_digit(int c) { return c >= '0' && c <= '9'; }
}  // namespace

int ProtocolInput::next_char_after_whitespace() {
  int c = in_.peek();
  while (c != std::char_traits<char>::eof() && is_space(c)) {
    in_.get();
    c = in_.peek();
  }
  if (c == std::char_traits<char>::eof()) throw EndOfInput{};
  return c;
}

std::string ProtocolInput::word() {
  next_char_after_whitespace();
  std::string text;
  for (int c = in_.peek(); c != std::char_traits<char>::eof() && !is_space(c); c = in_.peek()) {
    text += static_cast<char>(in_.get());
  }
  return text;
}

int32_t ProtocolInput::integer(const std::string& what) {
  return static_cast<int32_t>(
      integer_within(what, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

int64_t ProtocolInput::long_integer(const std::string& what) {
  return integer_within(what, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max());
}

int64_t ProtocolInput::integer_within(const std::string& what, int64_t low, int64_t high) {
  int c = next_char_after_whitespace();
  std::string text;
  if (c == '+' || c == '-') {
    text += static_cast<char>(in_.get());
    c = in_.peek();
  }
  const bool negative = !text.empty() && text[0] == '-';
  // The magnitude is gathered unsigned, so that the lowest value of the range fits too.
  const uint64_t limit = negative ? uint64_t{0} - static_cast<uint64_t>(low) : static_cast<uint64_t>(high);
  uint64_t magnitude = 0;
  bool has_digits = false;
  bool overflow = false;
  for (; is_digit(c); c = in_.peek()) {
    text += static_cast<char>(in_.get());
    has_digits = true;
    const auto digit = static_cast<uint64_t>(c - '0');
    if (magnitude > (limit - digit) / 10) overflow = true;
    if (!overflow) magnitude = magnitude * 10 + digit;
  }
  if (has_digits && !overflow) {
    return negative ? static_cast<int64_t>(uint64_t{0} - magnitude) : static_cast<int64_t>(magnitude);
  }
  // Skip the rest of the offending word so that reading goes on after it.
  for (c = in_.peek(); c != std::char_traits<char>::eof() && !is_space(c); c = in_.peek()) {
    text += static_cast<char>(in_.get());
  }
  throw ProtocolError("expected an integer for " + what + ", found \"" + text + "\"");
}

char ProtocolInput::separator() {
  next_char_after_whitespace();
  return static_cast<char>(in_.get());
}

void ProtocolInput::skip_line() { in_.ignore(std::numeric_limits<std::streamsize>::max(), '\n'); }

MoveWord parse_move_word(const std::string& word) {
  std::istringstream stream(word);
  ProtocolInput input(stream);
  MoveWord move{};
  try {
    move.x = input.integer("x");
    input.separator();
    move.y = input.integer("y");
    if (stream.peek() == std::char_traits<char>::eof()) return move;
    input.separator();
    move.who = input.integer("who");
  } catch (const EndOfInput&) {
    throw ProtocolError("incomplete move \"" + word + "\"");
  } catch (const ProtocolError&) {
    throw ProtocolError("malformed move \"" + word + "\"");
  }
  if (stream.peek() != std::char_traits<char>::eof()) throw ProtocolError("malformed move \"" + word + "\"");
  return move;
}

}  // namespace tovan::protocol
