// The line-pattern code and span tables, unpacked once from the stream built into the
// program (see tools/generate_pattern_tables.cpp) and read-only afterwards, so any
// number of threads may read them.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>

namespace tovan {

// Inflates the built-in stream into a new buffer: the code table, then the span table.
// The engine does this once during static initialisation, before main; the start-up
// benchmark calls it again. A damaged stream ends the process with a message on
// standard error.
std::unique_ptr<uint8_t[]> load_pattern_tables();

// The code of a key under a rule class.
uint16_t pattern_code(int rule_class, uint32_t key);
// The code table of a rule class, for loops that read many codes: pass it to code_in.
const uint8_t* pattern_code_table(int rule_class);

// The code of a key in a rule class's code table (its codes are little-endian).
inline uint16_t code_in(const uint8_t* code_table, uint32_t key) {
  static_assert(std::endian::native == std::endian::little);
  uint16_t code;
  std::memcpy(&code, code_table + 2 * size_t{key}, sizeof code);
  return code;
}
// The span byte of a key under a rule class, one for all the bits of its code: high nibble
// the cells the pattern reaches along the line's step from the centre, low nibble the
// cells it reaches the other way.
uint8_t pattern_span(int rule_class, uint32_t key);
// The span table of a rule class, for loops that read many spans: index it by key.
const uint8_t* pattern_span_table(int rule_class);

}  // namespace tovan
