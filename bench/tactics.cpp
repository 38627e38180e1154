// Tactical measurements on seeded positions: random middle games kept when they hold a win
// by continuous fours (VCF, Freestyle 15 x 15) or by continuous threats (VCT, Standard), or
// a threat of one, each confirmed by the tests' rules-only search or checker
// (tests/threat_reference.h), which also judge every answer.
//
//   tactics solver [--seed S] [--per-depth N]
//       the solver alone: the time to solve N positions for each depth of 3 to 7 fours, and
//       for each number of threats that are no four, 1 to 3, on 15 x 15 and 20 x 20 (median
//       and worst, a fresh solver each), and its positions per second
//   tactics engine --engine PATH [--cwd DIR] [--seed S] [--wins N] [--defences N]
//                  [--vct-wins N] [--vct-defences N] [--turn-ms MS]
//       the whole engine, asked for a move by BOARD in a fresh process: the share of won
//       positions where it keeps the win (a five, or a four whose forced reply leaves it a
//       VCF), and of threatened positions (the opponent would have a VCF if it passed) where
//       it defends (its fours are answered and it is asked again; its first other move must
//       leave the opponent no VCF); then the same with VCTs on 15 x 15 Standard: its move
//       in a position with a VCT but no VCF must pass the checker, the solver proposing the
//       moves after it, and against a VCT threat its first move that is no four must leave
//       the opponent no VCF by the rules and no VCT by the solver
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "search/clock.h"
#include "search/threat_solver.h"
#include "test_positions.h"
#include "threat_reference.h"

namespace tovan {

namespace {

using search::ThreatLimits, search::ThreatLine, search::ThreatSolver;

constexpr int kSide = 15;
constexpr int kMinDepth = 3;
constexpr int kMaxDepth = 7;
constexpr int kJudgeDepth = 12;     // fours the rules-only search looks through when judging
constexpr int kMaxFoursInARow = 8;  // engine fours answered before a defence is judged
const BoardConfig kConfig = board_config(Rule::Freestyle, kSide, kSide);
const BoardConfig kStandard = board_config(Rule::Standard, kSide, kSide);
constexpr int kMaxThrees = 3;  // threats that are no four in the VCTs looked for
constexpr ThreatLimits kVctLimits{2'000'000, 30, 0};

struct Options {
  std::string mode;
  unsigned seed = 1;
  int per_depth = 10;
  int wins = 30;
  int defences = 20;
  int vct_wins = 20;
  int vct_defences = 20;
  int turn_ms = 1000;
  std::string engine;
  std::string cwd = ".";
};

// Random middle games: stones dropped into the centre 9 x 9 (10 x 10 on 20 x 20).
Board middle_game(std::mt19937& random, const BoardConfig& config = kConfig) {
  return random_position(random, config, (config.width - 9) / 2, 16, 40);
}

Board board_of(const BoardConfig& config, const CellArray& cells, int colour_to_move) {
  const auto stones = std::count_if(cells.begin(), cells.end(), [](int8_t s) { return s == BLACK || s == WHITE; });
  return Board(config, static_cast<int32_t>(stones), cells, colour_to_move - 1);
}

bool solver_vct(const Board& board, int threes) {
  ThreatSolver solver(16);
  return solver.find_vct(board, kVctLimits, threes).win();
}

// What the rules-only checker finds wrong with `move` as a VCT of `colour`, the solver
// proposing the attacker's moves after it; "" for none.
std::string vct_fault(const BoardConfig& config, const CellArray& cells, int colour, Move move) {
  ThreatSolver solver(20);
  const ref::MoveOracle next = [&](const CellArray& now, int attacker, int threes) -> std::optional<Move> {
    const ThreatLine line = solver.find_vct(board_of(config, now, attacker), kVctLimits, threes);
    return line.win() ? std::optional<Move>(line.moves[0]) : std::nullopt;
  };
  return ref::vct_fault(config, cells, colour, move, kMaxThrees, next);
}

bool solver_wins(const Board& board, int depth) {
  ThreatSolver solver(16);
  return solver.find_vcf(board, {10'000'000, depth, 0}).win();
}

Board passed(const Board& board) {
  return Board(board.config(), board.move_count(), board.cells(), board.side_to_move() ^ 1);
}

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

// A Standard position whose side to move has a VCT of `threes` threats that are no four
// and none of fewer, nor a VCF, by the solver; its VCT passes the checker, and the rules
// find no VCF either.
Board vct_position(std::mt19937& random, const BoardConfig& config, int threes) {
  while (true) {
    const Board board = middle_game(random, config);
    ThreatSolver solver(16);
    const ThreatLine line = solver.find_vct(board, kVctLimits, threes);
    if (!line.win() || solver.find_vct(board, kVctLimits, threes - 1).win()) continue;
    CellArray cells = board.cells();
    const int colour = board.side_to_move() + 1;
    if (!ref::has_vcf(config, cells, colour, kJudgeDepth) && vct_fault(config, cells, colour, line.moves[0]).empty()) {
      return board;
    }
  }
}

// A Standard position whose side to move has no VCT, whose opponent would have one (and no
// VCF) if it passed, passing the checker, and where some moves stop it, but not most.
Board vct_threatened_position(std::mt19937& random) {
  while (true) {
    const Board board = middle_game(random, kStandard);
    const Board threat = passed(board);
    if (threat.game_over() || solver_vct(board, kMaxThrees) || solver_vct(threat, 0)) continue;
    ThreatSolver solver(16);
    const ThreatLine line = solver.find_vct(threat, kVctLimits, kMaxThrees);
    if (!line.win()) continue;
    size_t stops = 0;
    for (const Move move : board.candidates()) {
      Board after = board;
      after.play(move);
      stops += !after.game_over() && !solver_vct(after, kMaxThrees);
    }
    if (stops == 0 || stops * 4 > board.candidates().size()) continue;
    if (vct_fault(kStandard, threat.cells(), threat.side_to_move() + 1, line.moves[0]).empty()) return board;
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
std::optional<Move> engine_move(const Options& options, const BoardConfig& config, const CellArray& cells, int colour) {
  const std::string rule = config.rule == Rule::Standard ? "1" : "0";
  std::string script = "START 15\nINFO rule " + rule + "\nINFO timeout_turn " + std::to_string(options.turn_ms) +
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
int answer_four(const BoardConfig& config, CellArray& cells, Move move, int colour) {
  if (ref::wins_at(config, cells, move.x, move.y)) return 1;
  const std::vector<Move> fives = ref::win_points(config, cells, colour);
  if (fives.empty()) return 0;
  const std::vector<Move> replies = ref::stopping_replies(config, cells, colour, fives);
  if (replies.empty()) return 1;
  cells[cell_index(replies[0].x, replies[0].y)] = static_cast<int8_t>(ref::other(colour));
  return 2;
}

bool keeps_win(const Options& options, const Board& board) {
  CellArray cells = board.cells();
  const int colour = board.side_to_move() + 1;
  const std::optional<Move> move = engine_move(options, kConfig, cells, colour);
  if (!legal(cells, move)) return false;
  cells[cell_index(move->x, move->y)] = static_cast<int8_t>(colour);
  const int four = answer_four(kConfig, cells, *move, colour);
  return four == 1 || (four == 2 && ref::has_vcf(kConfig, cells, colour, kJudgeDepth));
}

bool keeps_vct(const Options& options, const Board& board) {
  const int colour = board.side_to_move() + 1;
  const std::optional<Move> move = engine_move(options, kStandard, board.cells(), colour);
  return move && vct_fault(kStandard, board.cells(), colour, *move).empty();
}

// Whether the engine stops the opponent's VCF, or with `vct` its VCT too.
bool defends(const Options& options, const Board& board, bool vct) {
  const BoardConfig& config = board.config();
  CellArray cells = board.cells();
  const int colour = board.side_to_move() + 1;
  for (int fours = 0; fours <= kMaxFoursInARow; ++fours) {
    const std::optional<Move> move = engine_move(options, config, cells, colour);
    if (!legal(cells, move)) return false;
    cells[cell_index(move->x, move->y)] = static_cast<int8_t>(colour);
    const int four = answer_four(config, cells, *move, colour);
    if (four == 1) return true;
    const int opponent = ref::other(colour);
    if (four == 0) {
      return !ref::has_vcf(config, cells, opponent, kJudgeDepth) &&
             !(vct && solver_vct(board_of(config, cells, opponent), kMaxThrees));
    }
  }
  return false;
}

// Times `solve`, a fresh solver each, on options.per_depth positions `make` gives for each
// row first..last: the median and worst per row, and the positions per second of them all.
void time_rows(const Options& options, const char* title, int first, int last, const std::function<Board(int)>& make,
               const std::function<ThreatLine(ThreatSolver&, const Board&, int)>& solve) {
  int64_t nodes = 0;
  int64_t total_ns = 0;
  std::printf("%6s  positions  median ms  worst ms\n", title);
  for (int row = first; row <= last; ++row) {
    std::vector<double> ms;
    for (int i = 0; i < options.per_depth; ++i) {
      const Board board = make(row);
      ThreatSolver solver(20);
      const int64_t start = search::monotonic_ns();
      const ThreatLine line = solve(solver, board, row);
      const int64_t elapsed = search::monotonic_ns() - start;
      if (!line.win()) std::printf("  missed a win of %d %s\n", row, title);
      nodes += line.nodes;
      total_ns += elapsed;
      ms.push_back(static_cast<double>(elapsed) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%6d  %9zu  %9.3f  %8.3f\n", row, ms.size(), ms[ms.size() / 2], ms.back());
  }
  std::printf("%lld positions in %.3f s: %.0f positions per second\n", static_cast<long long>(nodes),
              static_cast<double>(total_ns) / 1e9, static_cast<double>(nodes) / (static_cast<double>(total_ns) / 1e9));
}

int solver_mode(const Options& options) {
  std::mt19937 random(options.seed);
  std::printf("VCFs on %d x %d Freestyle\n", kSide, kSide);
  time_rows(
      options, "fours", kMinDepth, kMaxDepth, [&](int depth) { return won_position(random, depth); },
      [](ThreatSolver& solver, const Board& board, int) {
        return solver.find_vcf(board, {10'000'000, 30, 0});
      });
  for (const int side : {15, 20}) {
    const BoardConfig config = board_config(Rule::Standard, side, side);
    std::printf("VCTs on %d x %d Standard\n", side, side);
    time_rows(
        options, "threes", 1, kMaxThrees, [&](int threes) { return vct_position(random, config, threes); },
        [](ThreatSolver& solver, const Board& board, int threes) {
          return solver.find_vct(board, kVctLimits, threes);
        });
  }
  return 0;
}

// Asks `count` positions, prints each verdict and returns how many passed.
int tally(int count, const char* what, const char* pass, const char* fail, const std::function<bool(int)>& judge) {
  int passed = 0;
  for (int i = 0; i < count; ++i) {
    const bool ok = judge(i);
    passed += ok;
    std::printf("%s %d: %s\n", what, i, ok ? pass : fail);
    std::fflush(stdout);
  }
  return passed;
}

int engine_mode(const Options& options) {
  std::mt19937 random(options.seed);
  const int kept = tally(options.wins, "VCF win", "kept", "lost", [&](int i) {
    return keeps_win(options, won_position(random, kMinDepth + i % (kMaxDepth - kMinDepth + 1)));
  });
  const int held = tally(options.defences, "VCF threat", "defended", "not defended",
                         [&](int) { return defends(options, threatened_position(random), false); });
  const int vct_kept = tally(options.vct_wins, "VCT win", "kept", "lost", [&](int i) {
    return keeps_vct(options, vct_position(random, kStandard, 1 + i % kMaxThrees));
  });
  const int vct_held = tally(options.vct_defences, "VCT threat", "defended", "not defended",
                             [&](int) { return defends(options, vct_threatened_position(random), true); });
  const auto share = [](int n, int of) { return 100.0 * n / std::max(1, of); };
  std::printf("wins kept: %d of %d (%.0f%%); threats defended: %d of %d (%.0f%%)\n", kept, options.wins,
              share(kept, options.wins), held, options.defences, share(held, options.defences));
  std::printf("VCT wins kept: %d of %d (%.0f%%); VCT threats defended: %d of %d (%.0f%%)\n", vct_kept, options.vct_wins,
              share(vct_kept, options.vct_wins), vct_held, options.vct_defences, share(vct_held, options.vct_defences));
  return 0;
}

}  // namespace

}  // namespace tovan

int main(int argc, char** argv) {
  using namespace tovan;
  Options options;
  if (argc < 2) {
    std::fprintf(stderr, "usage: tactics solver|engine [options] (see bench/tactics.cpp)\n");
    return 2;
  }
  options.mode = argv[1];
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string key = argv[i];
    const std::string value = argv[i + 1];
    if (key == "--seed")
      options.seed = static_cast<unsigned>(std::stoul(value));
    else if (key == "--per-depth")
      options.per_depth = std::stoi(value);
    else if (key == "--wins")
      options.wins = std::stoi(value);
    else if (key == "--defences")
      options.defences = std::stoi(value);
    else if (key == "--vct-wins")
      options.vct_wins = std::stoi(value);
    else if (key == "--vct-defences")
      options.vct_defences = std::stoi(value);
    else if (key == "--turn-ms")
      options.turn_ms = std::stoi(value);
    else if (key == "--engine")
      options.engine = value;
    else if (key == "--cwd")
      options.cwd = value;
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
