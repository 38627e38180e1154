// Generates the line-pattern tables of the engine from the rules and writes them as a C++
// source that embeds them: one zlib stream holding the code table then the span table,
// every byte of the stream inverted.
//
// A table entry describes an empty cell and the ten cells around it on one line (five on
// each side; 3 stands for off the board) and says what a stone of the player placed on
// that cell would form in this line. Each kind of pattern is defined through the stronger
// ones: a four is a line where one more stone makes a five, an open three one where one
// more stone makes a straight four, and so on. One more own stone on an empty cell of a
// key gives a numerically larger key, so walking the keys from the top down classifies
// every line once, after all the lines it refers to.
//
// Usage: generate_pattern_tables OUTPUT.cpp
#include <zlib.h>

#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <vector>

#include "board/pattern_codes.h"

namespace tovan {

namespace {

constexpr int kCentre = 5;        // window index of the cell the stone is placed on
constexpr int kWindow = 11;       // cells of a window
constexpr uint8_t kOwn = 1;       // a stone of the player
constexpr uint8_t kOpponent = 2;  // a stone of the other player
constexpr uint32_t kKeys = kKeysPerClass;

using Line = std::array<uint8_t, kWindow>;
using CellSet = uint16_t;  // bit i: window index i

// A key holds window indices 0..4 in bits 0..9 and 6..10 in bits 10..19, two bits each.
int key_shift(int index) { return 2 * (index < kCentre ? index : index - 1); }

Line line_of(uint32_t key) {
  Line line;
  for (int i = 0; i < kWindow; ++i) line[i] = i == kCentre ? kOwn : (key >> key_shift(i)) & 3;
  return line;
}

// What one line holds for the stone on the centre: its code bits and the cells that make
// the pattern (the stones and the empty cells that make it what it is), the same for all
// its bits.
struct Pattern {
  uint16_t code = 0;
  CellSet cells = 0;
};

class Classifier {
 public:
  explicit Classifier(int rule_class) : rule_class_(rule_class), patterns_(kKeys) {}

  void classify_all() {
    for (uint32_t key = kKeys; key-- > 0;) patterns_[key] = classify(key);
  }

  const Pattern& operator[](uint32_t key) const { return patterns_[key]; }

 private:
  // The run of own stones through the centre, as window indices [low, high].
  static void run_through_centre(const Line& line, int& low, int& high) {
    low = high = kCentre;
    while (low > 0 && line[low - 1] == kOwn) --low;
    while (high < kWindow - 1 && line[high + 1] == kOwn) ++high;
  }

  // Whether the run [low, high] wins under the class: five or more (class 0), exactly five
  // (class 1), exactly five and not closed by the opponent at both ends (class 2; the edge
  // of the board does not close a five).
  bool wins(const Line& line, int low, int high) const {
    const int length = high - low + 1;
    if (rule_class_ == 0) return length >= 5;
    if (length != 5) return false;
    if (rule_class_ == 1) return true;
    return !(line[low - 1] == kOpponent && line[high + 1] == kOpponent);
  }

  Pattern classify(uint32_t key) const {
    const Line line = line_of(key);
    int low = 0;
    int high = 0;
    run_through_centre(line, low, high);
    const CellSet run = static_cast<CellSet>(((1u << (high + 1)) - 1) & ~((1u << low) - 1));

    Pattern pattern;
    if (high - low + 1 >= 6) mark(pattern, kOverline, run);
    if (wins(line, low, high)) {
      mark(pattern, kFive, run);
      return pattern;
    }

    // Fours: the empty cells that would then complete a five through the centre.
    CellSet own = 0;
    for (int i = 0; i < kWindow; ++i) own |= line[i] == kOwn ? CellSet(1u << i) : 0;
    std::vector<int> winning;
    CellSet four_cells = 0;
    for (int i = 0; i < kWindow; ++i) {
      if (line[i] != 0 || i == kCentre) continue;
      const Pattern& next = patterns_[key | (uint32_t{kOwn} << key_shift(i))];
      if (next.code & kFive) {
        winning.push_back(i);
        four_cells |= CellSet(1u << i) | (next.cells & own);
      }
    }
    if (!winning.empty()) {
      mark(pattern, kFour, four_cells);
      // Four stones in a row with a winning cell at both ends.
      const bool straight =
          high - low + 1 == 4 && winning.size() == 2 && winning[0] == low - 1 && winning[1] == high + 1;
      if (straight) mark(pattern, kStraightFour, four_cells);
      if (winning.size() >= 2 && !straight) mark(pattern, kDoubleFour, four_cells);
      return pattern;
    }

    // Weaker kinds, strongest first: each is one more stone away from the one before it.
    constexpr std::array<std::pair<uint16_t, uint16_t>, 5> kLadder = {{
        {kOpenThree, kStraightFour},
        {kThree, kFour},
        {kOpenTwo, kOpenThree},
        {kTwo, kThree},
        {kOne, kOpenTwo},
    }};
    for (const auto& [kind, next_kind] : kLadder) {
      CellSet cells = 0;
      for (int i = 0; i < kWindow; ++i) {
        if (line[i] != 0 || i == kCentre) continue;
        const Pattern& next = patterns_[key | (uint32_t{kOwn} << key_shift(i))];
        if (next.code & next_kind) cells |= CellSet(1u << i) | (next.cells & own);
      }
      if (cells) {
        mark(pattern, kind, cells);
        return pattern;
      }
    }
    return pattern;
  }

  // Bits marked together are about the same cells: an overline and a five are the run,
  // the kinds of four the four's cells.
  static void mark(Pattern& pattern, uint16_t kind, CellSet cells) {
    pattern.code |= kind;
    pattern.cells = cells | CellSet(1u << kCentre);
  }

  int rule_class_;
  std::vector<Pattern> patterns_;
};

// Span byte: high nibble the cells reached along the line's step (towards lower window
// indices), low nibble the cells reached the other way.
uint8_t span_byte(CellSet cells) {
  if (cells == 0) return 0;
  const int lowest = std::countr_zero(cells);
  const int highest = 15 - std::countl_zero(cells);
  return static_cast<uint8_t>(((kCentre - lowest) << 4) | (highest - kCentre));
}

}  // namespace

}  // namespace tovan

int main(int argc, char** argv) {
  using namespace tovan;
  if (argc != 2) {
    std::cerr << "usage: generate_pattern_tables OUTPUT.cpp\n";
    return 2;
  }

  std::vector<uint8_t> tables(kPatternTableBytes, 0);
  uint8_t* codes = tables.data();
  uint8_t* spans = tables.data() + kCodeTableBytes;
  for (int rule_class = 0; rule_class < kRuleClasses; ++rule_class) {
    Classifier classifier(rule_class);
    classifier.classify_all();
    for (uint32_t key = 0; key < kKeys; ++key) {
      const Pattern& pattern = classifier[key];
      const size_t index = size_t{static_cast<uint32_t>(rule_class)} * kKeys + key;
      codes[2 * index] = pattern.code & 0xFF;
      codes[2 * index + 1] = pattern.code >> 8;
      spans[index] = span_byte(pattern.cells);
    }
  }

  uLongf stream_size = compressBound(tables.size());
  std::vector<uint8_t> stream(stream_size);
  if (compress2(stream.data(), &stream_size, tables.data(), tables.size(), Z_BEST_COMPRESSION) != Z_OK) {
    std::cerr << "generate_pattern_tables: compression failed\n";
    return 1;
  }
  stream.resize(stream_size);

  std::ofstream out(argv[1]);
  out << "// Generated by tools/generate_pattern_tables.cpp; do not edit.\n"
      << "#include <cstddef>\n#include <cstdint>\n\nnamespace tovan {\n\n"
      << "extern const size_t kPatternStreamSize = " << stream.size() << ";\n"
      << "extern const uint8_t kPatternStream[] = {";
  for (size_t i = 0; i < stream.size(); ++i) {
    out << (i % 24 == 0 ? "\n" : "") << static_cast<unsigned>(static_cast<uint8_t>(~stream[i])) << ",";
  }
  out << "\n};\n\n}  // namespace tovan\n";
  if (!out) {
    std::cerr << "generate_pattern_tables: cannot write " << argv[1] << "\n";
    return 1;
  }
  std::cout << "pattern tables: " << tables.size() << " bytes, stream " << stream.size() << " bytes\n";
  return 0;
}
