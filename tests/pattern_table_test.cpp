// The generated pattern tables against the slow reference classifier: hand-drawn lines,
// every key of the edge-free and single-edge families, random samples, the White and
// mirror symmetries and the span bytes.
#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "board/pattern_codes.h"
#include "board/pattern_tables.h"
#include "pattern_reference.h"

namespace {

using pattern_ref::Line;

// Debug builds run under the sanitizers, where the reference is much slower.
#ifdef NDEBUG
constexpr int kSamples = 50000;
#else
constexpr int kSamples = 8000;
#endif

constexpr uint16_t kCodeBits = 0x7FE;  // bits 1..10

uint32_t mirror_key(uint32_t key) { return pattern_ref::key_of(pattern_ref::mirrored(pattern_ref::line_of(key))); }

// Random windows: uniform keys (mostly junk), realistic lines whose off-board cells form
// one run at one end, and lines crowded with own stones.
uint32_t random_key(std::mt19937& rng, int family) {
  if (family == 0) return rng() & 0xFFFFF;
  Line line{};
  for (int i = 0; i < 11; ++i) {
    const int r = static_cast<int>(rng() % 20);
    line[i] = family == 1 ? (r < 9 ? 0 : r < 16 ? 1 : 2) : (r < 7 ? 0 : r < 19 ? 1 : 2);
  }
  line[pattern_ref::kCentre] = pattern_ref::kEmpty;
  const int edge = rng() % 3 == 0 ? static_cast<int>(rng() % 6) : 0;
  const bool left = rng() % 2 == 0;
  for (int k = 0; k < edge; ++k) line[left ? k : 10 - k] = pattern_ref::kOff;
  return pattern_ref::key_of(line);
}

void for_each_sampled_key(uint32_t seed, const std::function<void(uint32_t)>& visit) {
  std::mt19937 rng(seed);
  for (int family = 0; family < 3; ++family) {
    for (int i = 0; i < kSamples; ++i) visit(random_key(rng, family));
  }
}

// Every key whose cells are empty, own or opponent, and every such key with an off-board
// run of 1 to 5 cells at either end.
void for_each_listed_key(const std::function<void(uint32_t)>& visit) {
  for (int edge = 0; edge <= 5; ++edge) {
    for (int side = 0; side < (edge == 0 ? 1 : 2); ++side) {
      int free_cells = 10 - edge;
      int count = 1;
      for (int i = 0; i < free_cells; ++i) count *= 3;
      for (int n = 0; n < count; ++n) {
        Line line{};
        int digits = n;
        for (int i = 0; i < 11; ++i) {
          if (i == pattern_ref::kCentre) continue;
          const bool off = side == 0 ? i < edge : i > 10 - edge;
          line[i] = off ? pattern_ref::kOff : digits % 3;
          if (!off) digits /= 3;
        }
        visit(pattern_ref::key_of(line));
      }
    }
  }
}

void expect_code_matches_reference(uint32_t key, int rule_class) {
  const uint16_t expected = pattern_ref::code(key, rule_class);
  const uint16_t actual = pattern_code(rule_class, key) & kCodeBits;
  ASSERT_EQ(actual, expected) << "class " << rule_class << " key " << pattern_ref::drawing(key) << " (0x" << std::hex
                              << key << ")";
}

TEST(PatternTable, HandDrawnLines) {
  struct Case {
    const char* line;
    uint16_t codes[3];  // by rule class
  };
  const uint16_t five_and_overline = kFive | kOverline;
  const uint16_t straight = kStraightFour | kFour;
  const uint16_t twin = kDoubleFour | kFour;
  const Case cases[] = {
      {"..XX[.]XX..", {kFive, kFive, kFive}},
      {".XXX[.]XX..", {five_and_overline, kOverline, kOverline}},
      {"OXXXX[.]O", {kFive, kFive, 0}},  // closed at both ends: no win for Caro
      {"#XXXX[.]O", {kFive, kFive, kFive}},
      {"OXXXX[.].", {kFive, kFive, kFive}},
      {"..XXX[.]...", {straight, straight, straight}},
      {"X.XXX[.]...", {straight, kFour, kFour}},  // the left end makes six
      {"OXXX[.]...", {kFour, kFour, kFour}},
      {"X.X[.]X.X", {twin, twin, twin}},
      {"XX.[.]X.XX", {twin, twin, twin}},
      {"..XX[.]...", {kOpenThree, kOpenThree, kOpenThree}},
      {"..X.[.]X..", {kOpenThree, kOpenThree, kOpenThree}},
      {".OXX[.]...", {kThree, kThree, kThree}},
      {"...X[.]...", {kOpenTwo, kOpenTwo, kOpenTwo}},
      {".OX[.]....", {kTwo, kTwo, kTwo}},
      {".....[.].....", {kOne, kOne, kOne}},
      {"O[.]O", {0, 0, 0}},
      {"##OX[.]O", {0, 0, 0}},
  };
  for (const Case& c : cases) {
    for (int rule_class = 0; rule_class < kRuleClasses; ++rule_class) {
      const uint32_t key = pattern_ref::key(c.line);
      EXPECT_EQ(pattern_ref::code(key, rule_class), c.codes[rule_class])
          << "reference, " << c.line << " class " << rule_class;
      EXPECT_EQ(pattern_code(rule_class, key) & kCodeBits, c.codes[rule_class]) << c.line << " class " << rule_class;
    }
  }
}

TEST(PatternTable, CodesMatchReferenceOnEveryListedKey) {
  for (int rule_class = 0; rule_class < kRuleClasses; ++rule_class) {
    for_each_listed_key([&](uint32_t key) { expect_code_matches_reference(key, rule_class); });
    if (HasFatalFailure()) return;
  }
}

TEST(PatternTable, CodesMatchReferenceOnRandomKeys) {
  for (int rule_class = 0; rule_class < kRuleClasses; ++rule_class) {
    for_each_sampled_key(100 + rule_class, [&](uint32_t key) { expect_code_matches_reference(key, rule_class); });
    if (HasFatalFailure()) return;
  }
}

TEST(PatternTable, WhiteKeyExchangesTheStoneColours) {
  for (uint32_t key = 0; key < kKeysPerClass; ++key) {
    Line expected = pattern_ref::line_of(key);
    for (int& cell : expected) cell = cell == 1 ? 2 : cell == 2 ? 1 : cell;
    ASSERT_EQ(white_key(key), pattern_ref::key_of(expected)) << pattern_ref::drawing(key);
    ASSERT_EQ(white_key(white_key(key)), key);
  }
  EXPECT_EQ(white_key(pattern_ref::key("##..[.]#####")), pattern_ref::key("##..[.]#####"));
}

TEST(PatternTable, MirroredLinesHaveTheSameCodeAndSwappedSpans) {
  const auto check = [](uint32_t key, int rule_class) {
    const uint32_t mirror = mirror_key(key);
    const uint16_t code = pattern_code(rule_class, key);
    ASSERT_EQ(pattern_code(rule_class, mirror), code) << "class " << rule_class << " " << pattern_ref::drawing(key);
    for (int bit = 1; bit <= 10; ++bit) {
      if (!(code & (1 << bit))) continue;
      const uint8_t span = pattern_span(rule_class, key, bit);
      const uint8_t swapped = static_cast<uint8_t>((span >> 4) | (span << 4));
      ASSERT_EQ(pattern_span(rule_class, mirror, bit), swapped)
          << "class " << rule_class << " bit " << bit << " " << pattern_ref::drawing(key);
    }
  };
  for (int rule_class = 0; rule_class < kRuleClasses; ++rule_class) {
    for_each_listed_key([&](uint32_t key) { check(key, rule_class); });
    for_each_sampled_key(200 + rule_class, [&](uint32_t key) { check(key, rule_class); });
    if (HasFatalFailure()) return;
  }
}

// The cells a span byte covers, as window indices first..last.
struct Covered {
  int first;
  int last;
  bool covers(int i) const { return first <= i && i <= last; }
};

void expect_valid_spans(uint32_t key, int rule_class) {
  const Line line = pattern_ref::line_of(key);
  const uint16_t code = pattern_code(rule_class, key);
  for (int bit = 1; bit <= 10; ++bit) {
    if (!(code & (1 << bit))) continue;
    const uint8_t span = pattern_span(rule_class, key, bit);
    const int forward = span >> 4;
    const int backward = span & 0xF;
    const auto where = [&] {
      return "class " + std::to_string(rule_class) + " bit " + std::to_string(bit) + " span " +
             std::to_string(forward) + "/" + std::to_string(backward) + " " + pattern_ref::drawing(key);
    };
    ASSERT_LE(forward, 5) << where();
    ASSERT_LE(backward, 5) << where();
    const Covered covered{pattern_ref::kCentre - forward, pattern_ref::kCentre + backward};
    for (int i = covered.first; i <= covered.last; ++i) {
      ASSERT_TRUE(line[i] == pattern_ref::kEmpty || line[i] == pattern_ref::kOwn) << where() << " covers cell " << i;
    }
    const auto expect_covers_run = [&](const Line& stones) {
      const pattern_ref::Run run = pattern_ref::centre_run(stones);
      ASSERT_TRUE(covered.covers(run.first) && covered.covers(run.last)) << where();
    };
    if (bit == 1) expect_covers_run(line);
    if (bit == 2) {
      const pattern_ref::Run run = pattern_ref::centre_run(line);
      ASSERT_EQ(covered.first, run.first) << where();
      ASSERT_EQ(covered.last, run.last) << where();
    }
    if (bit == 3 || bit == 4 || bit == 5) {
      for (int i : pattern_ref::winning_cells(line, rule_class)) {
        ASSERT_TRUE(covered.covers(i)) << where() << " misses winning cell " << i;
        expect_covers_run(pattern_ref::with_own(line, i));
      }
    }
    if (bit == 6) {
      for (int i : pattern_ref::straight_four_cells(line, rule_class)) {
        ASSERT_TRUE(covered.covers(i)) << where() << " misses straight-four cell " << i;
      }
    }
  }
}

TEST(PatternTable, SpansStayOnTheirPatternAndCoverItsKeyCells) {
  for (int rule_class = 0; rule_class < kRuleClasses; ++rule_class) {
    for_each_listed_key([&](uint32_t key) { expect_valid_spans(key, rule_class); });
    for_each_sampled_key(300 + rule_class, [&](uint32_t key) { expect_valid_spans(key, rule_class); });
    if (HasFatalFailure()) return;
  }
}

}  // namespace
