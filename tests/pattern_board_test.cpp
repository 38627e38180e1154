// The board's per-cell pattern codes, Renju flags and forbidden points: kept up to date
// through play and undo exactly as a board built from the same cells computes them, and
// equal to codes looked up from keys read cell by cell.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "board/board.h"
#include "board/pattern_codes.h"
#include "board/pattern_tables.h"
#include "board/patterns.h"

namespace {

constexpr Rule kRules[] = {Rule::Freestyle, Rule::Standard, Rule::Renju, Rule::StandardCaro};

BoardConfig config(Rule rule, int width, int height) { return BoardConfig{rule, height, width, 2, 4}; }

int state(const Board& board, int x, int y) { return board.on_board(x, y) ? board.cell(x, y) : BLOCKED; }

// The key of (x, y) in direction d, read cell by cell: window position p - j is j steps
// along the direction's step, p + j is j steps the other way.
uint32_t key_from_cells(const Board& board, int x, int y, int d) {
  uint32_t key = 0;
  for (int j = 1; j <= 5; ++j) {
    key |= static_cast<uint32_t>(state(board, x + j * DX[d], y + j * DY[d])) << (2 * (5 - j));
    key |= static_cast<uint32_t>(state(board, x - j * DX[d], y - j * DY[d])) << (10 + 2 * (j - 1));
  }
  return key;
}

std::array<uint8_t, 5> renju_flags_from(uint64_t black_codes) {
  int fours = 0, open_threes = 0;
  std::array<uint8_t, 5> flags{};
  for (int d = 0; d < 4; ++d) {
    const uint16_t code = code_lane(black_codes, d);
    flags[0] |= (code & kOverline) != 0;
    flags[1] |= (code & kFive) != 0;
    flags[2] |= (code & kStraightFour) != 0;
    flags[3] |= (code & kDoubleFour) != 0;
    fours += (code & kFour) != 0;
    open_threes += (code & kOpenThree) != 0;
  }
  flags[3] |= fours >= 2;
  flags[4] = open_threes >= 2;
  return flags;
}

// Codes and flags of every on-board cell against keys read from the cells.
void expect_codes_from_cells(const Board& board) {
  const Rule rule = board.config.rule;
  for (int y = 0; y < board.config.height; ++y) {
    for (int x = 0; x < board.config.width; ++x) {
      const int index = cell_index(x, y);
      if (board.cell(x, y) != EMPTY) {
        ASSERT_EQ(board.black_codes[index], 0u) << x << "," << y;
        ASSERT_EQ(board.white_codes[index], 0u) << x << "," << y;
        ASSERT_EQ(board.renju_flags[index], (std::array<uint8_t, 5>{})) << x << "," << y;
        continue;
      }
      for (int d = 0; d < 4; ++d) {
        const uint32_t key = key_from_cells(board, x, y, d);
        ASSERT_EQ(line_key(board, x, y, d), key) << x << "," << y << " d " << d;
        ASSERT_EQ(code_lane(board.black_codes[index], d), pattern_code(rule_class(rule, 0), key)) << x << "," << y;
        ASSERT_EQ(code_lane(board.white_codes[index], d), pattern_code(rule_class(rule, 1), white_key(key)))
            << x << "," << y;
      }
      const auto flags = rule == Rule::Renju ? renju_flags_from(board.black_codes[index]) : std::array<uint8_t, 5>{};
      ASSERT_EQ(board.renju_flags[index], flags) << x << "," << y;
    }
  }
}

void expect_same_as_rebuilt(const Board& board) {
  const Board rebuilt(board.config, board.move_count, board.cells, board.side_to_move);
  ASSERT_EQ(board.black_codes, rebuilt.black_codes);
  ASSERT_EQ(board.white_codes, rebuilt.white_codes);
  ASSERT_EQ(board.renju_flags, rebuilt.renju_flags);
  ASSERT_EQ(board.forbidden, rebuilt.forbidden);
  ASSERT_EQ(board.candidates, rebuilt.candidates);
}

// Random play with random take-backs from a board with a few blocked cells; a finished
// game is always taken back.
void random_walk(Rule rule, int width, int height, uint32_t seed, int steps) {
  std::mt19937 rng(seed);
  CellArray cells{};
  for (int i = 0; i < 3; ++i) cells[cell_index(rng() % width, rng() % height)] = BLOCKED;
  Board board(config(rule, width, height), 0, cells, 0);
  std::vector<Move> played;
  for (int step = 0; step < steps; ++step) {
    const bool stuck = board.game_over || board.candidates.empty();
    if (!played.empty() && (stuck || rng() % 100 < 30)) {
      board.undo(played.back(), true);
      played.pop_back();
    } else {
      ASSERT_FALSE(stuck);
      const Move move = board.candidates[rng() % board.candidates.size()];
      board.play(move);
      played.push_back(move);
    }
    SCOPED_TRACE("step " + std::to_string(step) + ", " + std::to_string(played.size()) + " moves on the board");
    expect_same_as_rebuilt(board);
    expect_codes_from_cells(board);
    if (testing::Test::HasFatalFailure()) return;
  }
}

TEST(PatternBoard, PlayAndUndoKeepCodesFlagsAndForbiddenPointsCurrent) {
  const int sizes[][2] = {{15, 15}, {20, 20}, {9, 17}, {20, 6}};
  uint32_t seed = 1;
  for (Rule rule : kRules) {
    for (const auto& size : sizes) {
      SCOPED_TRACE("rule " + std::to_string(static_cast<int>(rule)) + ", " + std::to_string(size[0]) + "x" +
                   std::to_string(size[1]));
      random_walk(rule, size[0], size[1], seed++, 300);
      if (HasFatalFailure()) return;
    }
  }
}

TEST(PatternBoard, StoneRefreshesCellsUpToFiveAwayAndNoFurther) {
  // In every direction: Black X X X . c with the new stone one further out than the
  // three. c's four (exactly five under Standard) turns into an overline threat; the cell
  // beyond c, six away from the stone, keeps its code.
  for (int d = 0; d < 4; ++d) {
    SCOPED_TRACE("direction " + std::to_string(d));
    const int cx = 10, cy = 10;
    const auto along = [&](int k) { return cell_index(cx + k * DX[d], cy + k * DY[d]); };
    CellArray cells{};
    for (int k = 2; k <= 4; ++k) cells[along(k)] = BLACK;
    Board board(config(Rule::Standard, 20, 20), 3, cells, 0);
    const uint16_t centre_before = code_lane(board.black_codes[along(0)], d);
    const uint16_t beyond_before = code_lane(board.black_codes[along(-1)], d);
    ASSERT_TRUE(centre_before & kFour);

    const Move stone{static_cast<int8_t>(cx + 5 * DX[d]), static_cast<int8_t>(cy + 5 * DY[d])};
    board.play(stone);
    const uint16_t centre_after = code_lane(board.black_codes[along(0)], d);
    EXPECT_FALSE(centre_after & kFour);
    EXPECT_EQ(centre_after, pattern_code(1, key_from_cells(board, cx, cy, d)));
    EXPECT_EQ(code_lane(board.black_codes[along(-1)], d), beyond_before);

    board.undo(stone, true);
    EXPECT_EQ(code_lane(board.black_codes[along(0)], d), centre_before);
  }
}

}  // namespace
