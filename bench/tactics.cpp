// Tactical measurements on seeded Freestyle 15 x 15 positions: random middle games kept
// when they hold a win by continuous fours (VCF) or a threat of one, each confirmed by the
// tests' rules-only search (tests/threat_reference.h), which also judges every answer.
//
//   tactics solver [--seed S] [--per-depth N]
//       the solver alone: the time to solve N positions for each depth of 3 to 7 fours
//       (median and worst, a fresh solver each) and its positions per second
//   tactics engine --engine PATH [--cwd DIR] [--seed S] [--wins N] [--defences N] [--turn-ms MS]
//       the whole engine, asked for a move by BOARD in a fresh process: the share of won
//       positions where it keeps the win (a five, or a four whose forced reply leaves it a
//       VCF), and of threatened positions (the opponent would have a VCF if it passed) where
//       it defends (its fours are answered and it is asked again; its first other move must
//       leave the opponent no VCF)
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "search/clock.h"
#include "search/threat_solver.h"
#include "test_positions.h"
#include "threat_reference.h"

namespace {

using decision::ThreatLimits, decision::ThreatSolver;

constexpr int kSide = 15;
constexpr int kMinDepth = 3;
constexpr int kMaxDepth = 7;
constexpr int kJudgeDepth = 12;  // fours the rules-only search looks through when judging
constexpr int kMaxFoursInARow = 8;  // engine fours answered before a defence is judged
const BoardConfig kConfig{Rule::Freestyle, kSide, kSide, 2, 4};

struct Options {
  std::string mode;
  unsigned seed = 1;
  int per_depth = 10;
  int wins = 30;
  int defences = 20;
  int turn_ms = 1000;
  std::string engine;
  std::string cwd = ".";
};

// Random middle games: stones dropped into the centre 9 x 9.
Board middle_game(std::mt19937& random) { return random_position(random, kConfig, 3, 16, 40); }

bool solver_wins(const Board& board, int depth) {
  ThreatSolver solver(16);
  return solver.find_vcf(board, {10'000'000, depth, 0}).win();
}

Board passed(const Board& board) { return Board(kConfig, board.move_count(), board.cells(), board.side_to_move() ^ 1); }

// A position whose side to move has a VCF of exactly `depth` fours, by the solver and
// confirmed by the rules-only search.
Board won_position(std::mt19937& random, int depth) {
  while (true) {
    const Board board = middle_game(random);
    if (!solver_wins(board, depth) || solver_wins(board, depth - 1)) continue;
    CellArray cells = board.cells();
    if (ref::has_vcf(kConfig, cells, board.side_to_move() + 1, depth)) return board;
  }
}

// A position whose side to move has no VCF, whose opponent would have one of 2 to 7 fours
// if it passed, and where some move stops it (found by the solver, confirmed by the
// rules-only search), but not most moves.
Board threatened_position(std::mt19937& random) {
  while (true) {
    const Board board = middle_game(random);
    const Board threat = passed(board);
    if (threat.game_over() || solver_wins(board, 30) || !solver_wins(threat, kMaxDepth) || solver_wins(threat, 1)) {
      continue;
    }
    std::vector<Move> stops;
    for (const Move move : board.candidates()) {
      Board after = board;
      after.play(move);
      if (!after.game_over() && !solver_wins(after, 30)) stops.push_back(move);
    }
    if (stops.empty() || stops.size() * 4 > board.candidates().size()) continue;
    CellArray cells = board.cells();
    const int opponent = 2 - board.side_to_move();
    if (!ref::has_vcf(kConfig, cells, opponent, kMaxDepth)) continue;
    cells[cell_index(stops[0].x, stops[0].y)] = static_cast<int8_t>(board.side_to_move() + 1);
    if (!ref::has_vcf(kConfig, cells, opponent, kJudgeDepth)) return board;
  }
}

// The output lines of the engine given `script` on its standard input, in its folder.
std::vector<std::string> run_engine(const Options& options, const std::string& script) {
  const std::filesystem::path input =
      std::filesystem::temp_directory_path() / ("tactics-" + std::to_string(getpid()) + ".txt");
  std::ofstream(input) << script;
  const std::string command = "cd '" + options.cwd + "' && '" + options.engine + "' < '" + input.string() + "'";
  std::vector<std::string> lines;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe)) lines.emplace_back(buffer);
    pclose(pipe);
  }
  std::filesystem::remove(input);
  return lines;
}

// The engine's move for the side to move of `cells`, asked with a BOARD list; none when
// it gave no move.
std::optional<Move> engine_move(const Options& options, const CellArray& cells, int colour) {
  std::string script = "START 15\nINFO rule 0\nINFO timeout_turn " + std::to_string(options.turn_ms) +
                       "\nINFO timeout_match 100000000\nINFO time_left 100000000\nBOARD\n";
  // Alternating colours from Black, as the list expects; 1 marks the engine's stones.
  std::vector<Move> by_colour[2];
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x)
      if (cells[cell_index(x, y)] == BLACK || cells[cell_index(x, y)] == WHITE)
        by_colour[cells[cell_index(x, y)] - 1].push_back(ref::at(x, y));
  for (size_t i = 0; i < by_colour[0].size() + by_colour[1].size(); ++i) {
    const int c = static_cast<int>(i % 2);
    const Move m = by_colour[c][i / 2];
    script += std::to_string(m.x) + "," + std::to_string(m.y) + "," + (c + 1 == colour ? "1" : "2") + "\n";
  }
  script += "DONE\nEND\n";
  const std::vector<std::string> out = run_engine(options, script);
  for (auto line = out.rbegin(); line != out.rend(); ++line) {
    int x, y;
    char rest;
    if (std::sscanf(line->c_str(), "%d,%d%c", &x, &y, &rest) == 3 && rest == '\n') return ref::at(x, y);
  }
  return std::nullopt;
}

bool legal(CellArray& cells, std::optional<Move> move) {
  return move && move->x >= 0 && move->x < kSide && move->y >= 0 && move->y < kSide &&
         cells[cell_index(move->x, move->y)] == EMPTY;
}

// After `colour` played `move`: 1 when it made a five or a four no reply stops, 0 when it
// made no four, else 2 with the only reply played on `cells`.
int answer_four(CellArray& cells, Move move, int colour) {
  if (ref::wins_at(kConfig, cells, move.x, move.y)) return 1;
  const std::vector<Move> fives = ref::win_points(kConfig, cells, colour);
  if (fives.empty()) return 0;
  const std::vector<Move> replies = ref::stopping_replies(kConfig, cells, colour, fives);
  if (replies.empty()) return 1;
  cells[cell_index(replies[0].x, replies[0].y)] = static_cast<int8_t>(ref::other(colour));
  return 2;
}

bool keeps_win(const Options& options, const Board& board) {
  CellArray cells = board.cells();
  const int colour = board.side_to_move() + 1;
  const std::optional<Move> move = engine_move(options, cells, colour);
  if (!legal(cells, move)) return false;
  cells[cell_index(move->x, move->y)] = static_cast<int8_t>(colour);
  const int four = answer_four(cells, *move, colour);
  return four == 1 || (four == 2 && ref::has_vcf(kConfig, cells, colour, kJudgeDepth));
}

bool defends(const Options& options, const Board& board) {
  CellArray cells = board.cells();
  const int colour = board.side_to_move() + 1;
  for (int fours = 0; fours <= kMaxFoursInARow; ++fours) {
    const std::optional<Move> move = engine_move(options, cells, colour);
    if (!legal(cells, move)) return false;
    cells[cell_index(move->x, move->y)] = static_cast<int8_t>(colour);
    const int four = answer_four(cells, *move, colour);
    if (four == 1) return true;
    if (four == 0) return !ref::has_vcf(kConfig, cells, ref::other(colour), kJudgeDepth);
  }
  return false;
}

int solver_mode(const Options& options) {
  std::mt19937 random(options.seed);
  int64_t nodes = 0;
  int64_t total_ns = 0;
  std::printf("fours  positions  median ms  worst ms\n");
  for (int depth = kMinDepth; depth <= kMaxDepth; ++depth) {
    std::vector<double> ms;
    for (int i = 0; i < options.per_depth; ++i) {
      const Board board = won_position(random, depth);
      ThreatSolver solver(20);
      const int64_t start = monotonic_ns();
      const decision::ThreatLine line = solver.find_vcf(board, {10'000'000, 30, 0});
      const int64_t elapsed = monotonic_ns() - start;
      if (!line.win()) std::printf("  missed a win of %d fours\n", depth);
      nodes += line.nodes;
      total_ns += elapsed;
      ms.push_back(static_cast<double>(elapsed) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%5d  %9zu  %9.3f  %8.3f\n", depth, ms.size(), ms[ms.size() / 2], ms.back());
  }
  std::printf("%lld positions in %.3f s: %.0f positions per second\n", static_cast<long long>(nodes),
              static_cast<double>(total_ns) / 1e9, static_cast<double>(nodes) / (static_cast<double>(total_ns) / 1e9));
  return 0;
}

int engine_mode(const Options& options) {
  std::mt19937 random(options.seed);
  int kept = 0;
  for (int i = 0; i < options.wins; ++i) {
    const int depth = kMinDepth + i % (kMaxDepth - kMinDepth + 1);
    const bool ok = keeps_win(options, won_position(random, depth));
    kept += ok;
    std::printf("win of %d fours %d: %s\n", depth, i, ok ? "kept" : "lost");
    std::fflush(stdout);
  }
  int held = 0;
  for (int i = 0; i < options.defences; ++i) {
    const bool ok = defends(options, threatened_position(random));
    held += ok;
    std::printf("threat %d: %s\n", i, ok ? "defended" : "not defended");
    std::fflush(stdout);
  }
  std::printf("wins kept: %d of %d (%.0f%%); threats defended: %d of %d (%.0f%%)\n", kept, options.wins,
              100.0 * kept / std::max(1, options.wins), held, options.defences,
              100.0 * held / std::max(1, options.defences));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (argc < 2) {
    std::fprintf(stderr, "usage: tactics solver|engine [options] (see bench/tactics.cpp)\n");
    return 2;
  }
  options.mode = argv[1];
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string key = argv[i];
    const std::string value = argv[i + 1];
    if (key == "--seed") options.seed = static_cast<unsigned>(std::stoul(value));
    else if (key == "--per-depth") options.per_depth = std::stoi(value);
    else if (key == "--wins") options.wins = std::stoi(value);
    else if (key == "--defences") options.defences = std::stoi(value);
    else if (key == "--turn-ms") options.turn_ms = std::stoi(value);
    else if (key == "--engine") options.engine = value;
    else if (key == "--cwd") options.cwd = value;
    else {
      std::fprintf(stderr, "unknown option %s\n", key.c_str());
      return 2;
    }
  }
  if (options.mode == "solver") return solver_mode(options);
  if (options.mode == "engine" && !options.engine.empty()) return engine_mode(options);
  std::fprintf(stderr, "usage: tactics solver|engine [options] (see bench/tactics.cpp)\n");
  return 2;
}
