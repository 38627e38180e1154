// The engine binary driven over pipes: protocol replies and start-up configuration.
#include <fnmatch.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace tovan {

namespace {

namespace fs = std::filesystem;

std::vector<std::string> read_lines(const fs::path& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

struct EngineRun {
  std::vector<std::string> out;  // standard output, one entry per line
  std::vector<std::string> err;  // standard error, one entry per line
  int status = 0;                // the exit status, or 128 + the signal that ended it
};

// Runs `program` in `dir` with `input` on its standard input, closed afterwards when
// `close_input` is set (otherwise the program has to stop by itself); its output goes to
// files in `dir`. Under timeout(1), a program still running after 20 s is killed (status
// 137), so that a hang fails a test instead of blocking it.
EngineRun run_engine(const fs::path& program, const fs::path& dir, const std::string& input, bool close_input = true) {
  int in[2];
  if (pipe(in) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
  // A child that stops reading must not kill the test through SIGPIPE.
  signal(SIGPIPE, SIG_IGN);
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGPIPE, SIG_DFL);
    dup2(in[0], STDIN_FILENO);
    close(in[1]);
    if (chdir(dir.c_str()) != 0 || !freopen("out", "w", stdout) || !freopen("err", "w", stderr)) _exit(126);
    execlp("timeout", "timeout", "-s", "KILL", "20", program.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(in[0]);
  // A script fits the pipe at once; a program that has already exited leaves it unread.
  const ssize_t written = write(in[1], input.data(), input.size());
  EXPECT_TRUE(written == static_cast<ssize_t>(input.size()) || errno == EPIPE);
  if (close_input) close(in[1]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!close_input) close(in[1]);
  return {read_lines(dir / "out"), read_lines(dir / "err"),
          WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)};
}

const std::string kAbout = R"(name="Tovan", version="2024", author="Oren Valsk", country="Marovia")";
const std::string kLoadedHere = "DEBUG load config: config.toml";

std::string read_file(const fs::path& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), {}};
}

void write_file(const fs::path& path, const std::string& text) { std::ofstream(path) << text; }

std::string transcript(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += "  | " + line + "\n";
  return text;
}

// Each expected line is a glob pattern ('*' for any text) matched against the whole line.
void expect_lines(const std::vector<std::string>& actual, const std::vector<std::string>& expected) {
  bool same = actual.size() == expected.size();
  for (size_t i = 0; same && i < actual.size(); ++i) same = fnmatch(expected[i].c_str(), actual[i].c_str(), 0) == 0;
  EXPECT_TRUE(same) << "replies:\n" << transcript(actual) << "expected:\n" << transcript(expected);
}

// The shipped configuration with the first occurrence of `from` replaced by `to`.
std::string shipped_config_with(const std::string& from, const std::string& to) {
  std::string text = read_file(SHIPPED_CONFIG);
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// Each test runs the engine in a fresh folder under the system's temporary one, with the
// shipped configuration given a small visits limit, so that every search is quick.
class ProtocolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "tovan-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::system_error(errno, std::generic_category(), "mkdtemp");
    dir_ = pattern;
    write_file(dir_ / "config.toml", shipped_config_with("visits_limit = 10000000", "visits_limit = 64"));
  }
  void TearDown() override { fs::remove_all(dir_); }

  // The replies to `script` after the configuration line, for a run that ends normally;
  // the model-loading line and the search reports are left out.
  std::vector<std::string> replies(const std::string& script, bool close_input = true) {
    const EngineRun run = run_engine(ENGINE_PATH, dir_, script, close_input);
    EXPECT_EQ(run.status, 0) << "(137: it hung) on:\n" << script << transcript(run.out);
    EXPECT_TRUE(run.err.empty()) << transcript(run.err);
    EXPECT_TRUE(!run.out.empty() && run.out.front() == kLoadedHere) << "no configuration line";
    std::vector<std::string> lines = run.out;
    std::erase_if(lines, [](const std::string& line) {
      return line == kLoadedHere || line.starts_with("DEBUG load model: ") || line.starts_with("DEBUG Win ") ||
             line.starts_with("DEBUG VCF ") || line.starts_with("DEBUG VCT ") || line.starts_with("DEBUG time: ") ||
             line.starts_with("DEBUG tree kept: ");
    });
    return lines;
  }

  fs::path dir_;
};

// Any move reply.
const std::string kMove = "[0-9]*,[0-9]*";
const std::string kSize15 = "DEBUG board size: (15, 15)";
// Any line of an analysis, and its closing line.
const std::string kAnalysisLine = "ANALYSIS [0-9]*,[0-9]* VISITS [0-9]* WIN * DRAW * PRIOR 0.[0-9]* PV [0-9]*,[0-9]*";
const std::string kAnalysisEnd = "ANALYSIS DONE VISITS [0-9]* WIN 0.[0-9]* DRAW 0.[0-9]* TIME [0-9].[0-9]*";
// Black holds 0,0 to 3,0 and White 0,14, 2,14, 4,14 and 6,14; Black to move.
const std::string kBlackFour = "board\n0,0\n0,14\n1,0\n2,14\n2,0\n4,14\n3,0\n6,14\ndone\n";
// Black's five on row 0, listed whole; White to move.
const std::string kBlackFive = "board\n0,0\n0,14\n1,0\n2,14\n2,0\n4,14\n3,0\n6,14\n4,0\ndone\n";
// Black at (7,7), (8,7), (7,8) and (8,9): at (6,7) Black would make open threes in the row
// and on the diagonal at once, a double three. Black also has a four on the top row,
// which the engine, playing White (who 1), must block at (10,0).
const std::string kRenjuPosition =
    "board\n7,7,2\n0,14,1\n8,7,2\n2,14,1\n7,8,2\n4,14,1\n8,9,2\n6,14,1\n11,0,2\n8,14,1\n12,0,2\n10,14,1\n"
    "13,0,2\n12,14,1\n14,0,2\ndone\n";
// The end of a Renju game: every cell taken but 10,8, where Black, to move, would make an
// overline; no five on the board.
const char* const kLastCellForbidden[] = {
    "XOXXOOXOOXXXXOO",
    "XOXOOXOXOXOOXXO",
    "OOXOXXXXOXXXOOX",
    "OXOXOXOXOXOOOOX",
    "XXOXXOOOXOXOXOX",
    "XOXOOOOXXOXXXOO",
    "OXOXXXOXXXOOOXX",
    "OXOOXOXOOXXXXOO",
    "XOXXXOXOXO.XOXO",
    "XOXXXOXXOXXOOOX",
    "OOXXOXOOOOXOXXO",
    "OXOOOOXOXXXOXXX",
    "OOXOXOXOOOXOOOX",
    "OXOXXOXXOXOXXOO",
    "XXOOXOXOOXOOOXX",
};

// A board command of those rows, the engine playing Black.
std::string board_of(const char* const (&rows)[15]) {
  std::string command = "board\n";
  for (int y = 0; y < 15; ++y) {
    for (int x = 0; x < 15; ++x) {
      if (rows[y][x] == '.') continue;
      command += std::to_string(x) + "," + std::to_string(y) + (rows[y][x] == 'X' ? ",1\n" : ",2\n");
    }
  }
  return command + "done\n";
}

// A script and the replies it must get (glob patterns), after the configuration line and
// without the model-loading lines and search reports. Every session starts with a turn
// limit of 300 ms; the input is closed after the script unless the engine has to stop by
// itself.
struct Exchange {
  const char* name;
  std::string script;
  std::vector<std::string> replies;
  bool close_input = true;
};

const Exchange kExchanges[] = {
    {"CommandWordsIgnoreCaseButInfoKeysDoNot",
     "START 15\r\nStart\t15\r\nINFO TIMEOUT_TURN 5000\r\nInfo Rule 4\r\nABOUT\r\n",
     {kSize15, "OK", kSize15, "OK", kAbout}},
    {"BoardSizesOutsideFiveToTwentyKeepThePreviousSize",
     "start 15\nstart 4\nstart 21\nrectstart 4,10\nrectstart 10,21\nrestart\nbegin\n",
     {kSize15, "OK", "ERROR only support board size 5-20", "ERROR only support board size 5-20",
      "ERROR only support board height:5-20, width:5-20", "ERROR only support board height:5-20, width:5-20", "OK",
      "7,7"}},
    {"BeginAnswersTheCentreOfEachBoardShape",
     "start 20\nbegin\nrectstart 20,5\nbegin\nrectstart 10,6\nbegin\nstart 5\nbegin\n",
     {"DEBUG board size: (20, 20)", "OK", "9,9", "DEBUG board size: (5, 20)", "OK", "9,2", "DEBUG board size: (6, 10)",
      "OK", "4,2", "DEBUG board size: (5, 5)", "OK", "2,2"}},
    {"InfoSetsRulesAndOtherwiseStaysSilent",
     "info rule 0\ninfo rule 2\ninfo rule 1\ninfo rule 3\ninfo rule 5\ninfo rule 4\ninfo rule 6\ninfo rule 8\n"
     "info rule 9\ninfo rule 12\ninfo timeout_match 100000\ninfo max_memory 0\ninfo max_memory 4000000000\n"
     "info time_left 90000\n"
     "info evaluate 7,7 start 15\ninfo folder games about\nabout\n",
     {"DEBUG rule: Freestyle", "DEBUG rule: Freestyle", "DEBUG rule: Standard", "DEBUG rule: Standard",
      "DEBUG rule: Standard", "DEBUG rule: Renju", "DEBUG rule: Renju", "DEBUG rule: StandardCaro",
      "DEBUG rule: StandardCaro", "DEBUG rule: StandardCaro", kAbout}},
    {"UnknownWordsGetNoReply", "hello\nyxfoo 3\nyxshow\nabout\n", {kAbout}},
    {"EndOfInputInTheMiddleOfACommandStopsTheEngine", "start 15\nturn 7,", {kSize15, "OK"}},
    {"EndStopsTheEngineWithoutReply", "start 15\nend\nabout\n", {kSize15, "OK"}, false},
    {"ExitStopsTheEngineWithoutReply", "start 15\nEXIT\nabout\n", {kSize15, "OK"}, false},
    {"SeparatorsAndLineBreaksAreFree", "start 15 begin\ntakeback 7;7\ntakeback\n7 , 7\nturn 7 , 7\n",
     {kSize15, "OK", "7,7", "OK", "ERROR takeback: *7,7*", kMove}},
    {"TakebackRemovesOnlyTheLastStone",
     "start 15\nbegin\ntakeback 3,3\ntakeback 20,1\ntakeback -1,0\ntakeback 7,7\nbegin\nturn 8,8\ntakeback 8,8\n",
     {kSize15, "OK", "7,7", "ERROR takeback: *3,3*", "ERROR takeback: *20,1*", "ERROR takeback: *-1,0*", "OK", "7,7",
      kMove, "ERROR takeback: *8,8*"}},
    {"TakebackAfterANewGameFindsAnEmptyBoard", "start 15\ntakeback 7,7\nbegin\nrestart\ntakeback 7,7\nbegin\n",
     {kSize15, "OK", "ERROR takeback: *7,7*", "7,7", "OK", "ERROR takeback: *7,7*", "7,7"}},
    {"MoveRequestsBeforeAnyGameAreRefused", "begin\nturn 1,1\nboard\n1,1,1\ndone\nswap2board\ndone\ntakeback 1,1\nabout\n",
     {"ERROR *", "ERROR *", "ERROR *", "ERROR *", "ERROR *", kAbout}},
    {"BeginNeedsAnEmptyBoard", "start 15\nturn 7,7\nbegin\nturn 7,7\n",
     {kSize15, "OK", kMove, "ERROR begin: *", "ERROR turn: move 7,7 *"}},
    {"BoardReplacesThePosition", "start 15\nbegin\nboard\n3,3,2\n4,4\nDone\nturn 3,3\nturn 4,4\n",
     {kSize15, "OK", "7,7", kMove, "ERROR turn: move 3,3 *", "ERROR turn: move 4,4 *"}},
    {"SwapBoardWithStonesAnswersAMoveOrSwap", "start 15\nswap2board\n7,7\n8,7\n7,8\nDONE\nturn 8,7\n",
     {kSize15, "OK", "[S0-9]*", "ERROR turn: move 8,7 is on an occupied cell"}},
    {"MalformedIntegersNameTheCommandAndAreSkipped",
     "info timeout_turn abc\nabout\nstart x\nabout\nstart 15\nturn 7,abc\nabout\nrectstart 9,q\nabout\n"
     "turn 99999999999,3\nbegin\ninfo max_memory -1\n",
     {"ERROR info: *", kAbout, "ERROR start: *", kAbout, kSize15, "OK", "ERROR turn: *", kAbout, "ERROR rectstart: *",
      kAbout, "ERROR turn: *", "7,7", "ERROR info: *"}},
    // Integers span the whole int32 range (int64 for max_memory) and may carry a sign; a
    // move word is "x,y" or "x,y,who" and nothing more.
    {"IntegerRangesAndMoveWordForms",
     "info timeout_turn 2147483648\ninfo time_left -2147483649\ninfo timeout_match +x\ninfo time_left -2147483648\n"
     "info timeout_match 2147483647\ninfo max_memory 9223372036854775807\ninfo max_memory 9223372036854775808\n"
     "info max_memory -9223372036854775808\nstart +015\nboard\n7,7,1x\ndone\nboard\n7,7,1,9\ndone\nboard\n7,\ndone\n"
     "board\n7\ndone\nboard\n7,7,\ndone\nswap2board\n7,b\ndone\n",
     {"ERROR info: *timeout_turn*\"2147483648\"", "ERROR info: *time_left*\"-2147483649\"",
      "ERROR info: *timeout_match*\"+x\"", "ERROR info: *max_memory*\"9223372036854775808\"",
      "ERROR info: *-9223372036854775808", kSize15, "OK", "ERROR board: *\"7,7,1x\"", "ERROR board: *\"7,7,1,9\"",
      "ERROR board: *\"7,\"", "ERROR board: *\"7\"", "ERROR board: *\"7,7,\"", "ERROR swap2board: *\"7,b\""}},
    {"MalformedBoardListIsReadToDoneAndChangesNothing",
     "start 15\nbegin\nboard\n8,8,2\na,b,1\nabout\nstart 10\n9,9,1\ndone\ntakeback 7,7\nabout\n",
     {kSize15, "OK", "7,7", "ERROR board: *", "OK", kAbout}},
    {"IllegalMovesNameTheMoveAndChangeNothing",
     "start 15\nbegin\nturn 7,7\nturn 20,3\nturn 3,-1\nboard\n1,1\n3,3\n3,3\ndone\nboard\n1,1,1\n15,0,2\ndone\n"
     "swap2board\n2,2\n2,2\ndone\ntakeback 1,1\ntakeback 7,7\nbegin\n",
     {kSize15, "OK", "7,7", "ERROR turn: move 7,7 *", "ERROR turn: move 20,3 *", "ERROR turn: move 3,-1 *",
      "ERROR board: move 3,3 *", "ERROR board: move 15,0 *", "ERROR swap2board: move 2,2 *", "ERROR takeback: *1,1*",
      "OK", "7,7"}},
    {"ShowForbidListsBlackForbiddenPointsUnderRenjuOnly",
     "yxshowforbid\ninfo rule 4\nstart 15\n" + kRenjuPosition + "YxShowForbid\nrestart\nyxshowforbid\ninfo rule 1\n" +
         kRenjuPosition + "yxshowforbid\n",
     {"FORBID .", "DEBUG rule: Renju", kSize15, "OK", "10,0", "FORBID 0607.", "OK", "FORBID .", "DEBUG rule: Standard",
      "10,0", "FORBID ."}},
    // A rule change after the engine was built rebuilds it for the new rule (the network
    // input differs under Renju) and keeps the game's stones.
    {"RuleChangeDuringAGameRebuildsTheEngine", "start 15\nbegin\ninfo rule 4\nboard\n7,7,2\n8,8,1\ndone\nturn 14,0\n",
     {kSize15, "OK", "7,7", "DEBUG rule: Renju", kMove, kMove}},
    {"RuleChangeBeforeASwapBoard", "start 7\nbegin\ninfo rule 4\nswap2board\n4,4\ndone\n",
     {"DEBUG board size: (7, 7)", "OK", "3,3", "DEBUG rule: Renju", "[S0-9]*"}},
    {"RuleChangeKeepsTheStones", "start 15\nbegin\ninfo rule 1\nturn 7,7\n",
     {kSize15, "OK", "7,7", "DEBUG rule: Standard", "ERROR turn: move 7,7 *"}},
    // After a five nothing more is played, and nothing taken back but the five's last stone.
    {"AfterTheEnginesFiveNothingMoreIsPlayed", "start 15\n" + kBlackFour + "turn 5,0\ntakeback 5,0\nbegin\n",
     {kSize15, "OK", "4,0", "ERROR turn: the game is already over", "ERROR takeback: *5,0*", "ERROR begin: *"}},
    {"AFinishedListedGameStaysFinished",
     "start 15\n" + kBlackFive + "about\nturn 10,10\ntakeback 10,10\ntakeback 3,0\ntakeback 4,0\nturn 5,0\n",
     {kSize15, "OK", kAbout, "ERROR turn: the game is already over", "ERROR takeback: *10,10*",
      "ERROR takeback: *3,0*", "OK", kMove}},
    // Black's only empty cell is forbidden: the game is drawn for the engine, which still
    // answers the manager with the cell rather than forfeit by an error.
    {"WithoutALegalMoveTheLastCellIsTheAnswer", "info rule 4\nstart 15\n" + board_of(kLastCellForbidden),
     {"DEBUG rule: Renju", kSize15, "OK", "DEBUG no legal move: every empty cell is forbidden", "10,8"}},
    {"RenjuGameStaysFinished", "info rule 4\nstart 15\n" + kBlackFive + "turn 14,0\n",
     {"DEBUG rule: Renju", kSize15, "OK", "ERROR turn: the game is already over"}},
    // A list is judged whole: a five anywhere in it ends the game, a five followed by the
    // other side's stones is refused, and a Standard six is no five in any order.
    {"AFiveListedFirstEndsTheGame", "start 15\nboard\n4,0\n0,14\n1,0\n2,14\n2,0\n4,14\n3,0\n6,14\n0,0\ndone\nabout\n",
     {kSize15, "OK", kAbout}},
    {"AListGoingOnAfterAFiveIsRefused", "start 15\nboard\n0,0\n0,14\n1,0\n2,14\n2,0\n4,14\n3,0\n6,14\n4,0\n8,14\ndone\n",
     {kSize15, "OK", "ERROR board: the list goes on after Black's five"}},
    {"AStandardSixIsNoFive",
     "info rule 1\nstart 15\nboard\n0,0\n0,5\n1,0\n1,5\n2,0\n2,6\n4,0\n3,6\n5,0\n5,9\n3,0\ndone\n",
     {"DEBUG rule: Standard", kSize15, "OK", kMove}},
    // Lists grouped by colour take the colours from the who fields (1: the engine's).
    {"WhoFieldsGiveTheColoursOfAGroupedList",
     "start 15\nboard\n0,0,1\n1,0,1\n2,0,1\n3,0,1\n10,10,2\n10,11,2\n10,12,2\n10,13,2\ndone\n", {kSize15, "OK", "4,0"}},
    {"WhoFieldsThatFitNeitherSideAreRefused", "start 15\nboard\n0,0,1\n1,0,1\n2,0,1\n10,10,2\ndone\n",
     {kSize15, "OK", "ERROR board: the who fields give 3 own and 1 opponent stones*"}},
    // An analysis plays nothing: the engine's stone is still the last one after it. Black's
    // four, its five taken back, is found won and followed to the five.
    {"AnalysisListsMovesAndLeavesTheGameAsItWas",
     "start 15\nbegin\nANALYZE visits 50 2\ntakeback 7,7\nanalyze TIME 100 1\n" + kBlackFour +
         "takeback 4,0\nanalyze visits 50 1\n",
     {kSize15, "OK", "7,7", kAnalysisLine, kAnalysisLine, kAnalysisEnd, "OK", kAnalysisLine, kAnalysisEnd, "4,0", "OK",
      "ANALYSIS 4,0 VISITS * WIN 1.000 DRAW 0.000 PRIOR * PV 4,0", "ANALYSIS DONE VISITS * WIN 1.000 DRAW 0.000 *"}},
    {"AnalysisArgumentsAndPositionsItRefuses",
     "analyze visits 10 1\nstart 15\nanalyze depth 3 1\nanalyze time 0 1\nanalyze time 600001 1\n"
     "analyze visits 10 0\nanalyze visits 10 401\nanalyze visits x 1\n" +
         kBlackFive + "analyze visits 10 1\nabout\n",
     {"ERROR analyze: no game started*", kSize15, "OK", "ERROR analyze: expected time or visits, found \"depth\"",
      "ERROR analyze: time must be 1 to 600000, found 0", "ERROR analyze: time must be 1 to 600000, found 600001",
      "ERROR analyze: move count must be 1 to 400, found 0", "ERROR analyze: move count must be 1 to 400, found 401",
      "ERROR analyze: *visits*\"x\"", "ERROR analyze: the game is already over", kAbout}},
};

class ProtocolExchange : public ProtocolTest, public ::testing::WithParamInterface<Exchange> {};

TEST_P(ProtocolExchange, GetsItsReplies) {
  expect_lines(replies("info timeout_turn 300\n" + GetParam().script, GetParam().close_input), GetParam().replies);
}

INSTANTIATE_TEST_SUITE_P(Protocol, ProtocolExchange, ::testing::ValuesIn(kExchanges),
                         [](const auto& info) { return std::string(info.param.name); });

// A model is loaded when a game needs one; a failure to load it is reported on each move
// request, whether the file cannot be read, the configuration names none, or the working
// folder, looked in before the engine's, holds a file that is no model or no weights.
TEST_F(ProtocolTest, AModelThatCannotBeLoadedIsReportedAndTriedAgain) {
  const std::string shipped = "Freestyle = \"models/freestyle-fitted.weights\"";
  const std::pair<std::string, std::string> cases[] = {
      {"Freestyle = \"no_such_model.onnx\"", "*no_such_model.onnx*"},
      {"", "*eval.model.Freestyle*"},
      {"Freestyle = \"models/freestyle.onnx\"", "*models/freestyle.onnx*"},
      {shipped, "*models/freestyle-fitted.weights, line 1: expected*"}};
  fs::create_directory(dir_ / "models");
  write_file(dir_ / "models" / "freestyle.onnx", "no model\n");
  write_file(dir_ / "models" / "freestyle-fitted.weights", "no weights\n");
  for (const auto& [line, mention] : cases) {
    write_file(dir_ / "config.toml", shipped_config_with(shipped, line));
    expect_lines(replies("start 15\nbegin\nabout\nbegin\nturn 7,7\n"),
                 {kSize15, "OK", "ERROR begin: " + mention, kAbout, "ERROR begin: " + mention, "ERROR turn: " + mention});
  }
}

// A start-up fault: the configuration line, then one error line repeated on stderr.
void expect_refused(const EngineRun& run, const std::string& first_line, const std::string& error) {
  EXPECT_EQ(run.status, 1);
  expect_lines(run.out, {first_line, error});
  expect_lines(run.err, {error});
  if (run.out.size() == 2 && run.err.size() == 1) {
    EXPECT_EQ(run.out[1], run.err[0]);
  }
}

TEST_F(ProtocolTest, WithoutALocalFileTheOneNextToTheExecutableIsUsed) {
  fs::remove(dir_ / "config.toml");
  const EngineRun run = run_engine(ENGINE_PATH, dir_, "about\n");
  EXPECT_EQ(run.status, 0);
  expect_lines(run.out,
               {"DEBUG load config: " + (fs::path(ENGINE_PATH).parent_path() / "config.toml").string(), kAbout});
}

TEST_F(ProtocolTest, ConfigurationFaultsStopTheEngine) {
  std::string faulty = shipped_config_with("num_search_threads = 2", "num_search_threads = 0");
  faulty.replace(faulty.find("device = \"cpu\""), 14, "device = \"gpu\"");
  faulty.replace(faulty.find("c_puct = 1.6\n"), 13, "");
  // The file's text and the error; no text: a folder in its place.
  const std::pair<std::string, std::string> cases[] = {
      {"", "ERROR cannot load configuration: *"},
      {"[search]\nc_puct = \"1.6\n", "ERROR cannot load configuration: *nterminated string*"},
      {faulty, "ERROR invalid configuration: search.c_puct *; search.num_search_threads *; eval.device *"},
  };
  for (const auto& [text, error] : cases) {
    fs::remove_all(dir_ / "config.toml");
    if (text.empty()) {
      fs::create_directory(dir_ / "config.toml");
    } else {
      write_file(dir_ / "config.toml", text);
    }
    expect_refused(run_engine(ENGINE_PATH, dir_, "about\n"), kLoadedHere, error);
  }

  // No file anywhere: a copy of the engine in a folder without one.
  const fs::path alone = dir_ / "alone";
  fs::create_directories(alone / "work");
  fs::copy_file(ENGINE_PATH, alone / "pbrain-tovan");
  expect_refused(run_engine(alone / "pbrain-tovan", alone / "work", "about\n"),
                 "DEBUG load config: " + (alone / "config.toml").string(), "ERROR cannot load configuration: *");
}

}  // namespace

}  // namespace tovan
