// Feature planes against a slow, bounds-checked rebuild of every plane from the board's
// pattern codes and the span table, on random games under every rule; hand-drawn
// positions for the planes whose meaning is easiest to get wrong; output decoding.
#include "evaluation/features.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "board/pattern_codes.h"
#include "board/pattern_tables.h"
#include "board/patterns.h"

namespace {

using eval::build_features;
using eval::channel_count;
using Cell = std::pair<int, int>;  // x, y

constexpr Rule kRules[] = {Rule::Freestyle, Rule::Standard, Rule::Renju, Rule::StandardCaro};

BoardConfig config(Rule rule, int width = 15, int height = 15) { return BoardConfig{rule, height, width, 2, 4}; }

// Rows top to bottom: 'X' Black, 'O' White, '#' blocked, anything else empty.
Board picture(const BoardConfig& c, const std::vector<std::string>& rows, int side) {
  CellArray cells{};
  int stones = 0;
  for (size_t y = 0; y < rows.size(); ++y) {
    for (size_t x = 0; x < rows[y].size(); ++x) {
      const char ch = rows[y][x];
      cells[cell_index(static_cast<int>(x), static_cast<int>(y))] = ch == 'X'   ? BLACK
                                                                    : ch == 'O' ? WHITE
                                                                    : ch == '#' ? BLOCKED
                                                                                : EMPTY;
      stones += ch == 'X' || ch == 'O';
    }
  }
  return Board(c, stones, cells, side);
}

int plane_offset(const Board& b, int plane) { return plane * b.config.height * b.config.width; }

// The cells of one plane that hold a non-zero value.
std::set<Cell> marked(const eval::FeatureMap& f, const Board& b, int plane) {
  std::set<Cell> cells;
  for (int y = 0; y < b.config.height; ++y) {
    for (int x = 0; x < b.config.width; ++x) {
      if (f.spatial_feature[plane_offset(b, plane) + y * b.config.width + x] != 0) cells.insert({x, y});
    }
  }
  return cells;
}

std::set<Cell> row_cells(int y, int x_from, int x_to) {
  std::set<Cell> cells;
  for (int x = x_from; x <= x_to; ++x) cells.insert({x, y});
  return cells;
}

// ---- Reference planes ----------------------------------------------------------------

struct Planes {
  int height, width;
  std::vector<int8_t> values;
  bool strayed = false;  // a span reached past the edge

  void mark(int plane, int x, int y) {
    if (x < 0 || y < 0 || x >= width || y >= height) {
      strayed = true;
      return;
    }
    values[(static_cast<size_t>(plane) * height + y) * width + x] = 1;
  }
};

void reference_block(const Board& b, Planes& p, int first, int player, int x, int y) {
  const uint64_t codes = (player == 0 ? b.black_codes : b.white_codes)[cell_index(x, y)];
  auto dirs = [&](int bit) {
    std::vector<int> found;
    for (int d = 0; d < 4; ++d) {
      if (code_lane(codes, d) & (1u << bit)) found.push_back(d);
    }
    return found;
  };
  // The line cells that the pattern of `bit` in line d covers.
  auto cover = [&](int plane, int bit, int d) {
    const uint32_t key = line_key(b, x, y, d);
    const uint8_t span = pattern_span(rule_class(b.config.rule, player), player == 1 ? white_key(key) : key, bit);
    for (int t = -(span & 0xF); t <= span >> 4; ++t) p.mark(plane, x + t * DX[d], y + t * DY[d]);
  };

  if (!dirs(2).empty()) p.mark(first, x, y);
  for (int d : dirs(4)) cover(first + 1, 4, d);
  if (b.config.rule != Rule::Renju || player != 0) {
    for (int d : dirs(3)) cover(first + 1, 3, d);
  }
  const int span_planes[][2] = {{2, 5}, {3, 6}, {4, 7}};  // plane offset, bit
  for (auto [offset, bit] : span_planes) {
    for (int d : dirs(bit)) cover(first + offset, bit, d);
  }
  const int cell_planes[][2] = {{5, 8}, {6, 9}, {7, 10}};
  for (auto [offset, bit] : cell_planes) {
    if (!dirs(bit).empty()) p.mark(first + offset, x, y);
  }

  const int pairs[10][2] = {{5, 5}, {5, 6}, {5, 7}, {5, 8}, {6, 6}, {6, 7}, {6, 8}, {7, 7}, {7, 8}, {8, 8}};
  for (int i = 0; i < 10; ++i) {
    const auto [a, c] = pairs[i];
    const int plane = first + 8 + i;
    const std::vector<int> da = dirs(a), dc = dirs(c);
    std::set<int> lines(da.begin(), da.end());
    lines.insert(dc.begin(), dc.end());
    if (da.empty() || dc.empty() || lines.size() < 2) continue;
    if (c == 8) {
      p.mark(plane, x, y);
      continue;
    }
    // Every two different lines, one with each kind (a == c included: then every line
    // of the kind has a partner).
    for (int d1 : da) {
      for (int d2 : dc) {
        if (d1 == d2) continue;
        cover(plane, a, d1);
        cover(plane, c, d2);
      }
    }
  }
}

Planes reference_planes(const Board& b) {
  const int h = b.config.height, w = b.config.width, side = b.side_to_move;
  const bool renju = b.config.rule == Rule::Renju;
  const int basic = renju ? 6 : 4;
  Planes p{h, w, std::vector<int8_t>(static_cast<size_t>(basic + 36) * h * w, 0)};
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int state = b.cell(x, y);
      if (state != BLOCKED) p.mark(0, x, y);
      if (state == BLACK + side) p.mark(1, x, y);
      if (state == WHITE - side) p.mark(2, x, y);
      if (renju && side == 0) p.mark(4, x, y);
      if (renju && b.forbidden[cell_index(x, y)]) p.mark(5, x, y);
      if (state != EMPTY) continue;
      reference_block(b, p, basic, side, x, y);
      reference_block(b, p, basic + 18, 1 - side, x, y);
    }
  }
  for (Move m : b.candidates) p.mark(3, m.x, m.y);
  return p;
}

TEST(FeaturePlanes, MatchReferenceOnRandomGames) {
  struct Size {
    int width, height;
  };
  const Size sizes[] = {{15, 15}, {18, 12}, {9, 20}, {20, 20}};
  std::mt19937 rng(2024);
  for (Rule rule : kRules) {
    std::vector<bool> plane_used(channel_count(rule), false);
    for (auto [width, height] : sizes) {
      const BoardConfig c = config(rule, width, height);
      for (int game = 0; game < 4; ++game) {
        CellArray cells{};
        for (int y = 0; y < height; ++y) {
          for (int x = 0; x < width; ++x) cells[cell_index(x, y)] = rng() % 40 == 0 ? BLOCKED : EMPTY;
        }
        Board b(c, 0, cells, static_cast<int>(rng() % 2));
        const int moves = 10 + static_cast<int>(rng() % 70);
        for (int move = 0; move < moves && !b.game_over; ++move) {
          b.play(b.candidates[rng() % b.candidates.size()]);
          if (move % 7 != 6 && !b.game_over) continue;
          for (int side : {0, 1}) {
            const Board position(c, b.move_count, b.cells, side);
            SCOPED_TRACE(std::string(rule_name(rule)) + " " + std::to_string(width) + "x" + std::to_string(height) +
                         " side " + std::to_string(side) + " move " + std::to_string(move));
            const Planes want = reference_planes(position);
            ASSERT_FALSE(want.strayed);
            const eval::FeatureBuffer got = build_features(position).spatial_feature;
            ASSERT_EQ(got.size(), want.values.size());
            const auto i = std::mismatch(got.begin(), got.end(), want.values.begin()).first - got.begin();
            ASSERT_EQ(i, std::ssize(got))
                << "plane " << i / (width * height) << " x " << i % width << " y " << i / width % height;
            for (size_t k = 0; k < want.values.size(); ++k) {
              if (want.values[k]) plane_used[k / (width * height)] = true;
            }
          }
        }
      }
    }
    // The games reach every kind of plane except the rarest pairs (two fours in two lines).
    for (int plane = 0; plane < channel_count(rule); ++plane) {
      const int pattern = (plane - (rule == Rule::Renju ? 6 : 4)) % 18;
      if (pattern == 8) continue;
      EXPECT_TRUE(plane_used[plane]) << rule_name(rule) << " plane " << plane << " never set";
    }
  }
}

TEST(FeaturePlanes, BasicPlanesOnRectangularBoard) {
  const BoardConfig c = config(Rule::Standard, 18, 12);
  const Board black = picture(c, {"", "    X       #", "     OX          O", "      O", "  #"}, 0);
  const Board white(c, black.move_count, black.cells, 1);
  ASSERT_EQ(channel_count(Rule::Standard), 40);

  const auto fb = build_features(black);
  const auto fw = build_features(white);
  ASSERT_EQ(fb.spatial_feature.size(), 40u * 12 * 18);
  // White's stone at column 17, row 2: plane 2 while Black moves, plane 1 while White moves.
  EXPECT_EQ(fb.spatial_feature[2 * 216 + 2 * 18 + 17], 1);
  EXPECT_EQ(fw.spatial_feature[1 * 216 + 2 * 18 + 17], 1);

  std::set<Cell> on_board = row_cells(0, 0, 17);
  for (int y = 1; y < 12; ++y) on_board.merge(row_cells(y, 0, 17));
  on_board.erase({12, 1});
  on_board.erase({2, 4});
  const std::set<Cell> blacks{{4, 1}, {6, 2}}, whites{{5, 2}, {17, 2}, {6, 3}};
  EXPECT_EQ(marked(fb, black, 0), on_board);
  EXPECT_EQ(marked(fb, black, 1), blacks);
  EXPECT_EQ(marked(fb, black, 2), whites);
  EXPECT_EQ(marked(fw, white, 1), whites);
  EXPECT_EQ(marked(fw, white, 2), blacks);
  for (const Board* b : {&black, &white}) {
    std::set<Cell> candidates;
    for (Move m : b->candidates) candidates.insert({m.x, m.y});
    ASSERT_FALSE(candidates.empty());
    EXPECT_EQ(marked(build_features(*b), *b, 3), candidates);
  }
  // Every value is 0 or 1.
  for (int8_t v : fb.spatial_feature) ASSERT_TRUE(v == 0 || v == 1);
}

TEST(FeaturePlanes, RenjuSideAndForbiddenPlanes) {
  const BoardConfig c = config(Rule::Renju);
  // (7, 7) would make two open threes for Black.
  const std::vector<std::string> rows = {"", "", "", "", "", "       X", "       X", "     XX", "", "  O  O  O  O"};
  const Board black = picture(c, rows, 0);
  const Board white = picture(c, rows, 1);
  ASSERT_EQ(channel_count(Rule::Renju), 42);
  ASSERT_EQ(black.forbidden[cell_index(7, 7)], 1);

  std::set<Cell> all, forbidden;
  for (int y = 0; y < 15; ++y) {
    for (int x = 0; x < 15; ++x) {
      all.insert({x, y});
      if (black.forbidden[cell_index(x, y)]) forbidden.insert({x, y});
    }
  }
  const auto fb = build_features(black);
  const auto fw = build_features(white);
  ASSERT_EQ(fb.spatial_feature.size(), 42u * 225);
  EXPECT_EQ(marked(fb, black, 4), all);
  EXPECT_TRUE(marked(fw, white, 4).empty());
  EXPECT_EQ(marked(fb, black, 5), forbidden);
  EXPECT_EQ(marked(fw, white, 5), forbidden);
  EXPECT_FALSE(marked(fb, black, 3).contains({7, 7}));  // not a candidate for Black
  EXPECT_TRUE(marked(fw, white, 3).contains({7, 7}));

  // Under other rules plane 4 is already the side to move's five plane.
  const Board freestyle = picture(config(Rule::Freestyle), rows, 0);
  EXPECT_TRUE(marked(build_features(freestyle), freestyle, 4).empty());
}

TEST(FeaturePatterns, OpenThreeCoversItsStraightFourCells) {
  // Black's two stones at (5, 7) and (6, 7): playing 3, 4, 7 or 8 makes an open three
  // whose straight fours reach from x 3 to x 8 on row 7, and nowhere else.
  const std::vector<std::string> rows = {
      "O", "", "", "", "", "", "", "     XX", "", "", "", "", "", "", "              O"};
  const BoardConfig c = config(Rule::Freestyle);
  const Board black = picture(c, rows, 0);
  const Board white = picture(c, rows, 1);
  const int open_three = 4 + 3;
  EXPECT_EQ(marked(build_features(black), black, open_three), row_cells(7, 3, 8));
  EXPECT_TRUE(marked(build_features(black), black, open_three + 18).empty());
  EXPECT_EQ(marked(build_features(white), white, open_three + 18), row_cells(7, 3, 8));
  EXPECT_TRUE(marked(build_features(white), white, open_three).empty());
}

TEST(FeaturePatterns, FourAndOpenThreeInTwoLines) {
  // Playing (7, 7) makes a four on row 7 (closed by White at x 3, completed at x 8) and an
  // open three on column 7 (straight fours from y 4 to y 8).
  const BoardConfig c = config(Rule::Freestyle);
  const Board b = picture(
      c, {"O", "", "", "", "", "       X", "       X", "   OXXX", "", "", "", "", "", "", "O             O"}, 0);
  const auto f = build_features(b);
  std::set<Cell> want = row_cells(7, 4, 8);
  for (int y = 4; y <= 8; ++y) want.insert({7, y});
  EXPECT_EQ(marked(f, b, 4 + 9), want);           // pair (four, open three)
  EXPECT_TRUE(marked(f, b, 4 + 8).empty());       // pair (four, four)
  EXPECT_TRUE(marked(f, b, 4 + 9 + 18).empty());  // White has neither
}

TEST(FeaturePatterns, DoubleFourInOneLineIsNoThreatForRenjuBlack) {
  // Playing (5, 7) makes two fours on row 7; nothing else on the board can make a
  // straight four or two fours.
  const std::string black_line = "OX.XX..XO", white_line = "XO.OO..OX";
  auto position = [](Rule rule, const std::string& line, int side) {
    return picture(config(rule), {"", "", "", "", "", "", "", line}, side);
  };
  for (Rule rule : kRules) {
    for (int side : {0, 1}) {
      SCOPED_TRACE(std::string(rule_name(rule)) + " side " + std::to_string(side));
      const int first = rule == Rule::Renju ? 6 : 4;
      const Board b = position(rule, black_line, side);
      ASSERT_TRUE(code_lane(b.black_codes[cell_index(5, 7)], 0) & kDoubleFour);
      const auto black_straight = marked(build_features(b), b, first + 1 + (side == 0 ? 0 : 18));
      if (rule == Rule::Renju) {
        EXPECT_TRUE(black_straight.empty());
      } else {
        EXPECT_TRUE(black_straight.contains({5, 7}));
      }
      const Board w = position(rule, white_line, side);
      ASSERT_TRUE(code_lane(w.white_codes[cell_index(5, 7)], 0) & kDoubleFour);
      EXPECT_TRUE(marked(build_features(w), w, first + 1 + (side == 1 ? 0 : 18)).contains({5, 7}));
    }
  }
}

// ---- Decoding ---------------------------------------------------------------------------

TEST(Softmax, NormalisesRelativeToTheLargestLogit) {
  std::vector<float> logits = {1000.0f, 999.0f, 1000.0f};
  eval::softmax(logits);
  const double e = std::exp(-1.0);
  EXPECT_NEAR(logits[0], 1 / (2 + e), 1e-6);
  EXPECT_NEAR(logits[1], e / (2 + e), 1e-6);
  EXPECT_NEAR(logits[0] + logits[1] + logits[2], 1.0, 1e-6);

  std::vector<float> equal(7, -3.5f);
  eval::softmax(equal);
  for (float p : equal) EXPECT_NEAR(p, 1.0 / 7, 1e-7);

  std::vector<float> single = {-40.0f};
  eval::softmax(single);
  EXPECT_EQ(single[0], 1.0f);

  std::vector<float> empty;
  eval::softmax(empty);
  EXPECT_TRUE(empty.empty());
}

TEST(DecodeOutput, GathersCandidateLogitsRowMajor) {
  const BoardConfig c = config(Rule::Freestyle, 18, 12);
  for (int side : {0, 1}) {
    const Board b =
        picture(c, {"", "", "", "", "", "", "", "", "", "", "              XO", "                OX"}, side);
    std::vector<float> row(12 * 18);
    for (size_t i = 0; i < row.size(); ++i) row[i] = static_cast<float>(i % 23) * 0.25f;
    const eval::EvalResult r = eval::decode_output(b, row.data(), 0.375f, 0.125f);

    double sum = 0.0;
    for (Move m : b.candidates) sum += std::exp(row[m.y * 18 + m.x] - 5.5);
    ASSERT_EQ(r.policy.size(), b.candidates.size());
    double total = 0.0;
    for (size_t i = 0; i < r.policy.size(); ++i) {
      const Move m = b.candidates[i];
      EXPECT_NEAR(r.policy[i], std::exp(row[m.y * 18 + m.x] - 5.5) / sum, 1e-6) << move_text(m);
      total += r.policy[i];
    }
    EXPECT_NEAR(total, 1.0, 1e-5);
    EXPECT_EQ(r.values[side], 0.375f);
    EXPECT_EQ(r.values[1 - side], -0.375f);
    EXPECT_EQ(r.draw_rate, 0.125f);
  }
}

}  // namespace
