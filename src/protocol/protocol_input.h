// Reads protocol input: command words, integers and separators, word by word from
// standard input, independent of line breaks.
//
// A malformed integer throws ProtocolError after skipping the offending word, so the
// stream stays usable; the end of input throws EndOfInput.
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <stdexcept>
#include <string>

namespace tovan::protocol {

struct ProtocolError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct EndOfInput {};

// Lower-cases the ASCII letters A to Z; every other byte stays as it is.
std::string to_lower_ascii(std::string word);

class ProtocolInput {
 public:
  explicit ProtocolInput(std::istream& in) : in_(in) {}

  // The next whitespace-delimited word.
  std::string word();
  // A decimal int32 with an optional sign, after any whitespace.
  int32_t integer(const std::string& what);
  // The same for a decimal int64.
  int64_t long_integer(const std::string& what);
  // The next character that is not whitespace, whatever it is.
  char separator();
  // Drops the rest of the current line, its newline included.
  void skip_line();

 private:
  int next_char_after_whitespace();
  int64_t integer_within(const std::string& what, int64_t low, int64_t high);

  std::istream& in_;
};

// A move word of a board list: "x,y" or "x,y,who" (any separator characters).
struct MoveWord {
  int32_t x;
  int32_t y;
  std::optional<int32_t> who;  // 1 the engine's own stone, 2 the opponent's, when given
};

// Throws ProtocolError naming the word when it has another form.
MoveWord parse_move_word(const std::string& word);

}  // namespace tovan::protocol
