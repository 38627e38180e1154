// The meaning of the line-pattern codes and the layout of the two pattern tables.
//
// A code describes what a stone placed on an empty cell would form in one line, judged
// under the rule class of its colour. Bits 1 to 6 drive the Renju forbidden points and
// the network planes; bits 7 to 10 only the network planes. Apart from the overline,
// only the strongest kind is set, except that the three kinds of four go together.
#pragma once

#include <cstddef>
#include <cstdint>

#include "board/rule.h"

namespace tovan {

inline constexpr uint16_t kOverline = 1 << 1;      // six or more in a row
inline constexpr uint16_t kFive = 1 << 2;          // a winning five under the class
inline constexpr uint16_t kDoubleFour = 1 << 3;    // two fours in this one line
inline constexpr uint16_t kStraightFour = 1 << 4;  // four in a row, both ends winning
inline constexpr uint16_t kFour = 1 << 5;          // one more stone would complete a five
inline constexpr uint16_t kOpenThree = 1 << 6;     // one more stone would make a straight four
inline constexpr uint16_t kThree = 1 << 7;         // one more stone would make a four
inline constexpr uint16_t kOpenTwo = 1 << 8;       // one more stone would make an open three
inline constexpr uint16_t kTwo = 1 << 9;           // one more stone would make a three
inline constexpr uint16_t kOne = 1 << 10;          // one more stone would make an open two

// The code bits in every one of the four lanes (one per line direction) of a cell's code word.
constexpr uint64_t in_every_lane(uint16_t bits) { return bits * 0x0001000100010001ULL; }

// Rule classes of the tables: 0 five or more wins, 1 exactly five, 2 exactly five and not
// closed by the opponent at both ends.
inline constexpr int kRuleClasses = 3;

constexpr int rule_class(Rule rule, int player) {
  switch (rule) {
    case Rule::Freestyle:
      return 0;
    case Rule::Standard:
      return 1;
    case Rule::Renju:
      return player == 0 ? 1 : 0;
    case Rule::StandardCaro:
      return 2;
  }
  return 0;
}

// A key is the 20-bit window of a cell without its centre; White reads the key with the
// stone colours 1 and 2 exchanged.
inline constexpr uint32_t kKeysPerClass = uint32_t{1} << 20;

constexpr uint32_t white_key(uint32_t key) {
  const uint32_t swapped = ((key >> 1) ^ key) & 0x55555;
  return key ^ swapped ^ (swapped << 1);
}

// Table layout: the code table (u16 little-endian per class and key) followed by the span
// table (one byte per class and key: every code bit of a key is about the same cells, the
// run for an overline and a five, the four's cells for the three kinds of four).
inline constexpr size_t kCodeTableBytes = size_t{kRuleClasses} * kKeysPerClass * 2;
inline constexpr size_t kSpanTableBytes = size_t{kRuleClasses} * kKeysPerClass;
inline constexpr size_t kPatternTableBytes = kCodeTableBytes + kSpanTableBytes;

}  // namespace tovan
