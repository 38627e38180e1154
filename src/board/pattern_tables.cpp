#include "board/pattern_tables.h"

#include <zlib.h>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <vector>

#include "board/pattern_codes.h"

namespace tovan {

// The generated stream: zlib format, every byte inverted.
extern const size_t kPatternStreamSize;
extern const uint8_t kPatternStream[];

std::unique_ptr<uint8_t[]> load_pattern_tables() {
  std::vector<uint8_t> stream(kPatternStream, kPatternStream + kPatternStreamSize);
  for (uint8_t& byte : stream) byte = static_cast<uint8_t>(~byte);

  auto tables = std::make_unique<uint8_t[]>(kPatternTableBytes);
  uLongf size = kPatternTableBytes;
  if (uncompress(tables.get(), &size, stream.data(), stream.size()) != Z_OK || size != kPatternTableBytes) {
    std::cerr << "pattern tables: the built-in table stream is damaged\n";
    std::exit(1);
  }
  return tables;
}

namespace {

const uint8_t* tables() {
  static const std::unique_ptr<uint8_t[]> unpacked = load_pattern_tables();
  return unpacked.get();
}

// Unpacked during static initialisation, before main.
[[maybe_unused]] const uint8_t* const startup_tables = tables();

size_t entry(int rule_class, uint32_t key) { return size_t{static_cast<uint32_t>(rule_class)} * kKeysPerClass + key; }

}  // namespace

uint16_t pattern_code(int rule_class, uint32_t key) { return code_in(pattern_code_table(rule_class), key); }

const uint8_t* pattern_code_table(int rule_class) { return tables() + 2 * entry(rule_class, 0); }

uint8_t pattern_span(int rule_class, uint32_t key) { return pattern_span_table(rule_class)[key]; }

const uint8_t* pattern_span_table(int rule_class) { return tables() + kCodeTableBytes + entry(rule_class, 0); }

}  // namespace tovan
