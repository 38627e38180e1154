// The generated pattern tables against the reference line classifier (board_reference.h):
// hand-drawn lines that pin the reference too, then every key that a board without blocked
// cells can show and random keys, each with its mirror image and span bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "board/pattern_codes.h"
#include "board/pattern_tables.h"
#include "board_reference.h"
#include "test_positions.h"

namespace {

using ref::Line;

#ifdef NDEBUG
constexpr int kSamples = 100000;
#else
constexpr int kSamples = 15000;  // the sanitizers are slow
#endif

constexpr uint16_t kCodeBits = 0x7FE;  // bits 1..10

TEST(PatternTable, HandDrawnLines) {
  // Black's line; the centre, index 5, is the empty cell coded.
  struct Case {
    const char* line;
    uint16_t codes[3];  // by rule class
  };
  const uint16_t five_and_overline = kFive | kOverline;
  const uint16_t straight = kStraightFour | kFour;
  const uint16_t twin = kDoubleFour | kFour;
  const Case cases[] = {
      {"...XX.XX...", {kFive, kFive, kFive}},
      {"..XXX.XX...", {five_and_overline, kOverline, kOverline}},
      {"OXXXX.O....", {kFive, kFive, 0}},  // closed at both ends: no Caro win
      {"#XXXX.O....", {kFive, kFive, kFive}},
      {"OXXXX......", {kFive, kFive, kFive}},
      {"..XXX......", {straight, straight, straight}},
      {"X.XXX......", {straight, kFour, kFour}},  // the left end makes six
      {".OXXX......", {kFour, kFour, kFour}},
      {"..X.X.X.X..", {twin, twin, twin}},
      {"..XX..X.XX.", {twin, twin, twin}},
      {"...XX......", {kOpenThree, kOpenThree, kOpenThree}},
      {"...X..X....", {kOpenThree, kOpenThree, kOpenThree}},
      {"..OXX......", {kThree, kThree, kThree}},
      {"....X......", {kOpenTwo, kOpenTwo, kOpenTwo}},
      {"...OX......", {kTwo, kTwo, kTwo}},
      {"...........", {kOne, kOne, kOne}},
      {"....O.O....", {0, 0, 0}},
      {"###OX.O....", {0, 0, 0}},
  };
  for (const Case& c : cases) {
    const CellArray cells = cells_from_rows({c.line});
    Line line;
    std::copy(cells.begin(), cells.begin() + 11, line.begin());
    for (int rule_class = 0; rule_class < kRuleClasses; ++rule_class) {
      EXPECT_EQ(ref::code(line, rule_class), c.codes[rule_class]) << "reference, " << c.line << " class " << rule_class;
      EXPECT_EQ(pattern_code(rule_class, ref::key_of(line)) & kCodeBits, c.codes[rule_class])
          << c.line << " class " << rule_class;
    }
  }
}

// One key under one class: its code against the reference; its mirror image with the same
// code and swapped spans; each span on empty and own cells only, covering the cells its
// kind is about.
void check_key(uint32_t key, int rule_class) {
  const Line line = ref::line_of(key);
  const uint16_t code = pattern_code(rule_class, key);
  const std::string where = "class " + std::to_string(rule_class) + " " + ref::drawing(line);
  ASSERT_EQ(code & kCodeBits, ref::code(line, rule_class)) << where;
  Line mirror = line;
  std::reverse(mirror.begin(), mirror.end());
  ASSERT_EQ(pattern_code(rule_class, ref::key_of(mirror)), code) << where;

  const ref::Run run = ref::centre_run(line);
  for (int bit = 1; bit <= 10; ++bit) {
    if (!(code & (1 << bit))) continue;
    const uint8_t span = pattern_span(rule_class, key, bit);
    const std::string at_bit = where + " bit " + std::to_string(bit) + " span " + std::to_string(span);
    ASSERT_EQ(pattern_span(rule_class, ref::key_of(mirror), bit), static_cast<uint8_t>(span >> 4 | span << 4))
        << at_bit;
    const int first = ref::kCentre - (span >> 4), last = ref::kCentre + (span & 0xF);
    ASSERT_TRUE(first >= 0 && last <= 10) << at_bit;
    for (int i = first; i <= last; ++i) ASSERT_TRUE(line[i] == EMPTY || line[i] == ref::kOwn) << at_bit;
    std::vector<int> covered;
    if (bit == 1) covered = {run.first, run.last};
    if (bit == 2) {
      ASSERT_EQ(first, run.first) << at_bit;
      ASSERT_EQ(last, run.last) << at_bit;
    }
    if (bit >= 3 && bit <= 5) {
      for (int i : ref::winning_cells(line, rule_class)) {
        const ref::Run five = ref::centre_run(ref::with_own(line, i));
        covered.insert(covered.end(), {i, five.first, five.last});
      }
    }
    if (bit == 6) covered = ref::straight_four_cells(line, rule_class);
    for (int i : covered) ASSERT_TRUE(first <= i && i <= last) << at_bit << " misses cell " << i;
  }
}

// Every key whose cells are empty, own or opponent, off the board for 0 to 5 cells at
// each end; then uniform random keys, mostly junk, with blocked cells anywhere.
TEST(PatternTable, KeysMatchTheReference) {
  for (int rule_class = 0; rule_class < kRuleClasses; ++rule_class) {
    for (int left = 0; left <= 5; ++left) {
      for (int right = 0; right <= 5; ++right) {
        int count = 1;
        for (int i = left + right; i < 10; ++i) count *= 3;
        for (int n = 0; n < count; ++n) {
          Line line{};
          for (int i = 0, digits = n; i < 11; ++i) {
            const bool off = i < left || i > 10 - right;
            if (i == ref::kCentre) continue;
            line[i] = off ? BLOCKED : digits % 3;
            if (!off) digits /= 3;
          }
          check_key(ref::key_of(line), rule_class);
          if (HasFatalFailure()) return;
        }
      }
    }
    std::mt19937 rng(100 + rule_class);
    for (int n = 0; n < kSamples; ++n) {
      check_key(rng() & 0xFFFFF, rule_class);
      if (HasFatalFailure()) return;
    }
  }
}

}  // namespace
