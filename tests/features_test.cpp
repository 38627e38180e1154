// Feature planes of hand-drawn positions against the planes drawn out by hand, and the
// reading of one row of network output.
#include "evaluation/features.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_positions.h"

namespace {

// 'X' where the plane is set, as full rows of the board.
std::vector<std::string> plane_rows(const Board& b, int plane) {
  const int w = b.config().width, h = b.config().height;
  const eval::FeatureBuffer f = eval::build_features(b).spatial_feature;
  EXPECT_EQ(f.size(), static_cast<size_t>(eval::channel_count(b.config().rule)) * w * h);
  std::vector<std::string> rows(h, std::string(w, '.'));
  for (int i = 0; i < w * h; ++i) rows[i / w][i % w] = f[static_cast<size_t>(plane) * w * h + i] == 1 ? 'X' : '.';
  return rows;
}

TEST(FeaturePlanes, MatchTheirDrawings) {
  const BoardConfig small{Rule::Standard, 5, 7, 2, 4}, edge{Rule::Freestyle, 6, 9, 2, 4};
  const BoardConfig free15{Rule::Freestyle, 15, 15, 2, 4}, renju15{Rule::Renju, 15, 15, 2, 4};
  const std::vector<std::string> stones = {"X....#.", ".O.....", "......O", "#..X..."};
  const std::vector<std::string> two = {"O", "", "", "", "", "", "", ".....XX", "", "", "", "", "", "", "..............O"};
  auto on_row7 = [](const std::string& row) { return std::vector<std::string>{"", "", "", "", "", "", "", row}; };
  // Playing (7, 7) makes a four on row 7 and an open three on column 7, and under Renju
  // two open threes for Black.
  const std::vector<std::string> four_three = {
      "O", "", "", "", "", ".......X", ".......X", "...OXXX", "", "", "", "", "", "", "O.............O"};
  const std::vector<std::string> double_three = {
      "", "", "", "", "", ".......X", ".......X", ".....XX", "", "..O..O..O..O"};
  struct Case {
    const char* what;
    BoardConfig config;
    std::vector<std::string> position;
    int side, plane;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"on board", small, stones, 0, 0, {"XXXXX.X", "XXXXXXX", "XXXXXXX", ".XXXXXX", "XXXXXXX"}},
      {"own stones, Black to move", small, stones, 0, 1, {"X", "", "", "...X"}},
      {"opponent stones, Black to move", small, stones, 0, 2, {"", ".X", "......X"}},
      {"own stones, White to move", small, stones, 1, 1, {"", ".X", "......X"}},
      {"open three spans", free15, two, 0, 4 + 3, on_row7("...XXXXXX")},
      {"open three spans, opponent block", free15, two, 1, 4 + 18 + 3, on_row7("...XXXXXX")},
      {"open three cut by the edge", edge, {"", "", "......XX", "", "", "OO"}, 0, 4 + 3, {"", "", "....XXXX"}},
      {"threes up to the edge", edge, {"", "", "......XX", "", "", "OO"}, 0, 4 + 4, {"", "", "...XXXXXX"}},
      {"five", edge, {"", ".XXXX", "", "OOOO"}, 0, 4, {"", "X....X"}},
      {"four and open three in two lines", free15, four_three, 0, 4 + 9,
       {"", "", "", "", ".......X", ".......X", ".......X", "....XXXXX", ".......X"}},
      {"two fours in one line", free15, on_row7("OX.XX..XO"), 0, 4 + 1, on_row7(".XXXXXXX")},
      {"no threat for Renju Black", renju15, on_row7("OX.XX..XO"), 0, 6 + 1, {}},
      {"a threat for Renju White", renju15, on_row7("XO.OO..OX"), 1, 6 + 1, on_row7(".XXXXXXX")},
      {"Black to move", renju15, double_three, 0, 4, std::vector<std::string>(15, std::string(15, 'X'))},
      {"White to move", renju15, double_three, 1, 4, {}},
      {"forbidden for Black to move", renju15, double_three, 0, 5, on_row7(".......X")},
      {"forbidden for White to move", renju15, double_three, 1, 5, on_row7(".......X")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Board b = board_from_rows(c.config, c.position, c.side);
    std::vector<std::string> want = c.want;  // drawn up to the last set cell
    want.resize(b.config().height);
    for (std::string& row : want) row.resize(b.config().width, '.');
    EXPECT_EQ(plane_rows(b, c.plane), want);
  }
}

// The logit of a candidate is read at its own cell of the output row.
TEST(DecodeOutput, ReadsTheCandidatesRowMajor) {
  std::vector<std::string> rows = {"", "...XO", "....X*", "...O"};
  const std::optional<Move> target = take_mark(rows, '*');
  const Board b = board_from_rows({Rule::Freestyle, 6, 9, 2, 4}, rows, 0);
  std::vector<float> logits(6 * 9, 0.0f);
  logits[target->y * 9 + target->x] = 10.0f;
  const eval::EvalResult r = eval::decode_output(b, logits.data(), 0.25f, 0.5f);
  ASSERT_EQ(r.policy.size(), b.candidates().size());
  for (size_t i = 0; i < r.policy.size(); ++i) EXPECT_EQ(r.policy[i] > 0.5f, b.candidates()[i] == *target) << i;
}

}  // namespace
