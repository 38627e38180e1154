#include "board/forbidden.h"

#include <cassert>
#include <chrono>
#include <cstdio>
#include <vector>

#include "board/board.h"
#include "board/pattern_codes.h"
#include "board/pattern_tables.h"
#include "board/patterns.h"

namespace tovan {

namespace {

// Renju flag indices (patterns.h).
constexpr int kOverlineFlag = 0;
constexpr int kFiveFlag = 1;
constexpr int kStraightFourFlag = 2;
constexpr int kDoubleFourFlag = 3;
constexpr int kDoubleThreeFlag = 4;

// Verification deeper than this many stones below the outermost update uses the quick rule.
constexpr int kVerifyDepth = 4;
constexpr auto kSlowUpdate = std::chrono::seconds(1);

struct FourPoint {
  int d;
  int x;
  int y;
};

bool quick_rule_applies(const Board& board) {
  return board.verify_limit() != -1 && board.move_count() >= board.verify_limit();
}

}  // namespace

// Whether Black's stone on (x, y), flagged with open threes in two or more lines, makes at
// least two threes that can really become a straight four: at a point that then makes a
// straight four in that line, is not a five, and is not forbidden itself.
bool Board::makes_real_double_three(int x, int y) {
  // Taken before the stone is placed: the cells of each open three at which Black could
  // then make a straight four.
  std::vector<FourPoint> points;
  const uint64_t codes = black_codes_[cell_index(x, y)];
  for (int d = 0; d < 4; ++d) {
    if (!(code_lane(codes, d) & kOpenThree)) continue;
    const uint8_t span = pattern_span(rule_class(Rule::Renju, 0), line_key(*this, x, y, d));
    const int forward = span >> 4;
    const int backward = span & 0xF;
    for (int k = forward; k >= -backward; --k) points.push_back({d, x + k * DX[d], y + k * DY[d]});
  }

  // Place the stone as Black, whoever is to move, and take it back afterwards.
  const int side = side_to_move_;
  const Move move{static_cast<int8_t>(x), static_cast<int8_t>(y)};
  side_to_move_ = 0;
  hash_ ^= static_cast<uint64_t>(side);
  play(move, false);

  std::array<bool, 4> real{};
  for (const FourPoint& point : points) {
    if (real[point.d]) continue;
    const int index = cell_index(point.x, point.y);
    const auto& flags = renju_flags_[index];
    real[point.d] = flags[kStraightFourFlag] && (code_lane(black_codes_[index], point.d) & kStraightFour) &&
                    !flags[kFiveFlag] && !is_forbidden(point.x, point.y);
  }

  undo(move, false);
  hash_ ^= static_cast<uint64_t>(side_to_move_ ^ side);
  side_to_move_ = side;
  return real[0] + real[1] + real[2] + real[3] >= 2;
}

// Whether Black may not play on (x, y) in the board's current position. A five always
// may; an overline or a double four never; a double three only when verified, or, past
// the verification depth, unverified.
bool Board::is_forbidden(int x, int y) {
  const auto& flags = renju_flags_[cell_index(x, y)];
  if (flags[kFiveFlag]) return false;
  if (flags[kOverlineFlag] || flags[kDoubleFourFlag]) return true;
  if (!flags[kDoubleThreeFlag]) return false;
  return quick_rule_applies(*this) || makes_real_double_three(x, y);
}

void update_forbidden(Board& board) {
  assert(board.config().rule == Rule::Renju);
  [[maybe_unused]] const CellArray cells = board.cells();
  [[maybe_unused]] const uint64_t hash = board.hash();
  [[maybe_unused]] const int32_t side = board.side_to_move();
  const bool timed = !quick_rule_applies(board);
  const auto start = std::chrono::steady_clock::now();
  const bool outermost = board.verify_limit() == -1;
  if (outermost) board.verify_limit_ = board.move_count() + kVerifyDepth;

  // Each tested stone is taken back before the next cell is judged.
  std::array<uint8_t, kCellCount> result{};
  for (int y = 0; y < board.config().height; ++y) {
    for (int x = 0; x < board.config().width; ++x) result[cell_index(x, y)] = board.is_forbidden(x, y);
  }
  board.forbidden_ = result;
  // Every tentative stone has been taken back.
  assert(board.cells() == cells && board.hash() == hash && board.side_to_move() == side);

  if (outermost) board.verify_limit_ = -1;
  if (timed && std::chrono::steady_clock::now() - start > kSlowUpdate) {
    std::fputs("forbidden point update timeout!\n", stderr);  // one write: lines of threads stay whole
    std::fflush(stderr);
  }
}

bool forbidden_for_black(Board& board, int x, int y) {
  assert(board.config().rule == Rule::Renju && board.cell(x, y) == EMPTY);
  const bool outermost = board.verify_limit() == -1;
  if (outermost) board.verify_limit_ = board.move_count() + kVerifyDepth;
  const bool forbidden = board.is_forbidden(x, y);
  if (outermost) board.verify_limit_ = -1;
  return forbidden;
}

}  // namespace tovan
