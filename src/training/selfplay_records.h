// Self-play training records: one self-contained chunk per game, appended and flushed as
// each game ends, so that files written side by side join by concatenation and a file
// cut off mid-game still holds every game before the cut. docs/formats.md, "Self-play records", gives the
// byte layout; RecordReader and tools/selfplay_records.py read it.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "board/move.h"
#include "board/rule.h"

namespace tovan::training {

// A fully searched position of a game: the move's index in the game (the stones on the
// board), the side to move (0 Black, 1 White), the root's value for that side (-1..1)
// and draw rate, and the normalised pruned visit weights of the candidates that have any.
struct PositionRecord {
  struct Weight {
    Move move;
    float probability;
  };
  int32_t ply;
  int32_t side;
  float value;
  float draw_rate;
  std::vector<Weight> policy;
};

// How a game ended: the last move made five; the board ended it without a five (full, or
// no legal move left); or the search or the threat solver proved the winner and the game
// stopped there.
enum class GameEnd : uint8_t { kFive = 0, kBoard = 1, kProven = 2 };

struct GameRecord {
  Rule rule = Rule::Freestyle;
  int32_t width = 0;
  int32_t height = 0;
  std::vector<Move> moves{};  // from the empty board, Black first
  // The win by fours (VCF) or the principal line of the win by threats (VCT) that the
  // root's threat check found after the last move, attacker first (see ThreatLine); empty
  // when the game did not end so.
  std::vector<Move> vcf{};
  int32_t winner = 2;  // 0 Black, 1 White, 2 draw
  GameEnd end = GameEnd::kBoard;
  std::vector<PositionRecord> positions{};
};

class RecordWriter {
 public:
  static constexpr uint8_t kVersion = 1;

  // Creates or empties the file; throws std::runtime_error when it cannot be opened.
  explicit RecordWriter(const std::string& path);
  // Appends the game's chunk and flushes it; throws std::runtime_error when writing fails.
  void write(const GameRecord& game);

 private:
  std::string path_;
  std::ofstream file_;
};

// Reads a record file game by game. The games are taken as written: replaying them is the
// reader's caller's check (a record may come from anywhere).
class RecordReader {
 public:
  // Throws std::runtime_error when the file cannot be opened.
  explicit RecordReader(const std::string& path);
  // The next game; false at the end of the file, or at a last chunk cut off before its
  // end. Throws std::runtime_error naming the file and the chunk's offset for a damaged
  // chunk: another magic or version, a stream that does not inflate, or fields that do
  // not fill it exactly.
  bool next(GameRecord& game);

 private:
  std::string path_;
  std::ifstream file_;
};

}  // namespace tovan::training
