// Integers at the edges of their ranges and move words; words, separators, line skips and
// case are exercised through the engine in protocol_test.cpp.
#include "app/protocol_input.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

TEST(ProtocolInputTest, IntegersTakeASignAndTheWholeInt32Range) {
  std::istringstream text("+5 -12 0 007 2147483647 -2147483648");
  ProtocolInput input(text);
  for (int32_t expected : {5, -12, 0, 7, 2147483647, -2147483647 - 1}) EXPECT_EQ(input.integer("n"), expected);
  EXPECT_THROW(input.integer("n"), EndOfInput);
}

TEST(ProtocolInputTest, LongIntegersTakeTheWholeInt64Range) {
  std::istringstream text("4000000000 9223372036854775807 -9223372036854775808 9223372036854775808 7");
  ProtocolInput input(text);
  for (int64_t expected : {int64_t{4000000000}, INT64_MAX, INT64_MIN}) EXPECT_EQ(input.long_integer("n"), expected);
  EXPECT_THROW(input.long_integer("n"), ProtocolError);
  EXPECT_EQ(input.long_integer("n"), 7);
}

TEST(ProtocolInputTest, MalformedIntegerIsSkippedWithItsWord) {
  for (const std::string word :
       {"99999999999", "2147483648", "-2147483649", "99999999999999999999999", "abc", "-", "+x", "x12"}) {
    std::istringstream text(word + " 7");
    ProtocolInput input(text);
    try {
      input.integer("timeout_turn");
      ADD_FAILURE() << word << " was read";
    } catch (const ProtocolError& error) {
      EXPECT_NE(std::string(error.what()).find("timeout_turn"), std::string::npos) << error.what();
      EXPECT_NE(std::string(error.what()).find(word), std::string::npos) << error.what();
    }
    EXPECT_EQ(input.integer("next"), 7) << word;
  }
}

TEST(MoveWordTest, AcceptedForms) {
  const std::vector<std::tuple<std::string, int32_t, int32_t, std::optional<int32_t>>> cases = {
      {"7,7", 7, 7, {}},     {"7,7,1", 7, 7, 1},     {"7;7", 7, 7, {}},
      {"3,12,2", 3, 12, 2}, {"19,0,3", 19, 0, 3}, {"-1,4", -1, 4, {}}};
  for (const auto& [word, x, y, who] : cases) {
    const MoveWord move = parse_move_word(word);
    EXPECT_EQ(move.x, x) << word;
    EXPECT_EQ(move.y, y) << word;
    EXPECT_EQ(move.who, who) << word;
  }
}

TEST(MoveWordTest, OtherFormsAreRefusedNamingTheWord) {
  for (const std::string word : {"a,b", "7", "7,", "7,b", "7,7,", "7,7,x", "7,7,1,9", "7,7,1x", "7,99999999999", ""}) {
    try {
      parse_move_word(word);
      ADD_FAILURE() << '"' << word << "\" was read";
    } catch (const ProtocolError& error) {
      EXPECT_NE(std::string(error.what()).find('"' + word + '"'), std::string::npos) << error.what();
    }
  }
}

}  // namespace
