// The engine binary driven over pipes: protocol replies and start-up configuration.
#include <fcntl.h>
#include <fnmatch.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <thread>

namespace {

namespace fs = std::filesystem;

[[noreturn]] void fail(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

std::vector<std::string> read_lines(const fs::path& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

struct EngineRun {
  std::vector<std::string> out;  // standard output, one entry per line
  std::vector<std::string> err;  // standard error, one entry per line
  int exit_status = -1;          // -1 unless the process exited normally
  bool killed = false;           // true when the safety timeout stopped it
};

// A fresh directory under the system temporary folder, removed with its content.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "tovan-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) fail("mkdtemp");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// Runs `program` in `working_dir` with `input` on its standard input, closed afterwards
// when `close_input` is set (otherwise the program has to stop by itself). A program still
// running after `timeout_s` seconds is killed, so that a hang fails a test instead of
// blocking it.
EngineRun run_engine(const fs::path& program, const fs::path& working_dir, const std::string& input,
                     bool close_input = true, int timeout_s = 20) {
  // The output goes to files, so that the child never waits for a full pipe; the input goes
  // through a pipe, which holds the few hundred bytes of a script at once.
  const TempDir files;
  const std::string out_path = files.path() / "out";
  const std::string err_path = files.path() / "err";
  // A child that stops reading must not kill the test through SIGPIPE.
  signal(SIGPIPE, SIG_IGN);
  int in_pipe[2];
  if (pipe(in_pipe) != 0) fail("pipe");

  const pid_t pid = fork();
  if (pid < 0) fail("fork");
  if (pid == 0) {
    signal(SIGPIPE, SIG_DFL);
    dup2(in_pipe[0], STDIN_FILENO);
    close(in_pipe[0]);
    close(in_pipe[1]);
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0 || dup2(out, STDOUT_FILENO) < 0 || dup2(err, STDERR_FILENO) < 0) _exit(125);
    if (chdir(working_dir.c_str()) != 0) _exit(126);
    execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(in_pipe[0]);
  // A child that has already exited leaves the rest of the script unread (EPIPE).
  for (size_t written = 0; written < input.size();) {
    const ssize_t count = write(in_pipe[1], input.data() + written, input.size() - written);
    if (count <= 0) break;
    written += static_cast<size_t>(count);
  }
  if (close_input) close(in_pipe[1]);

  EngineRun run;
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      run.killed = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!close_input) close(in_pipe[1]);
  if (!run.killed && WIFEXITED(status)) run.exit_status = WEXITSTATUS(status);
  run.out = read_lines(out_path);
  run.err = read_lines(err_path);
  return run;
}

const std::string kAbout = R"(name="Tovan", version="2024", author="Oren Valsk", country="Marovia")";
const std::string kLoadedHere = "DEBUG load config: config.toml";

std::string read_file(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
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

class ProtocolTest : public ::testing::Test {
 protected:
  // The shipped configuration with a small visits limit, so that every search is quick.
  void SetUp() override {
    write_file(dir_.path() / "config.toml", shipped_config_with("visits_limit = 1000000", "visits_limit = 64"));
  }

  // The replies to `script` after the configuration line, for a run that ends normally;
  // the model-loading line and the search reports are left out.
  std::vector<std::string> replies(const std::string& script) {
    const EngineRun run = run_engine(ENGINE_PATH, dir_.path(), script);
    EXPECT_FALSE(run.killed) << "engine hung on:\n" << script;
    EXPECT_EQ(run.exit_status, 0) << transcript(run.out);
    EXPECT_TRUE(run.err.empty()) << transcript(run.err);
    if (run.out.empty() || run.out.front() != kLoadedHere) {
      ADD_FAILURE() << "no configuration line:\n" << transcript(run.out);
      return run.out;
    }
    std::vector<std::string> lines;
    for (auto line = run.out.begin() + 1; line != run.out.end(); ++line) {
      if (line->rfind("DEBUG load model: ", 0) != 0 && line->rfind("DEBUG Win ", 0) != 0 &&
          line->rfind("DEBUG VCF ", 0) != 0) {
        lines.push_back(*line);
      }
    }
    return lines;
  }

  TempDir dir_;
};

// Any move reply.
const std::string kMove = "[0-9]*,[0-9]*";
const std::string kSize15 = "DEBUG board size: (15, 15)";
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

// A script and the replies it must get (glob patterns), after the configuration line and
// without the model-loading lines and search reports. Every session starts with a turn
// limit of 300 ms.
struct Exchange {
  const char* name;
  std::string script;
  std::vector<std::string> replies;
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
     {"DEBUG board size: (7, 7)", "OK", "3,3", "DEBUG rule: Renju", "*"}},
    {"RuleChangeKeepsTheStones", "start 15\nbegin\ninfo rule 1\nturn 7,7\n",
     {kSize15, "OK", "7,7", "DEBUG rule: Standard", "ERROR turn: move 7,7 *"}},
    // After a five nothing more is played, and nothing taken back but the five's last stone.
    {"AfterTheEnginesFiveNothingMoreIsPlayed", "start 15\n" + kBlackFour + "turn 5,0\ntakeback 5,0\nbegin\n",
     {kSize15, "OK", "4,0", "ERROR turn: the game is already over", "ERROR takeback: *5,0*", "ERROR begin: *"}},
    {"AFinishedListedGameStaysFinished",
     "start 15\n" + kBlackFive + "about\nturn 10,10\ntakeback 10,10\ntakeback 3,0\ntakeback 4,0\nturn 5,0\n",
     {kSize15, "OK", kAbout, "ERROR turn: the game is already over", "ERROR takeback: *10,10*",
      "ERROR takeback: *3,0*", "OK", kMove}},
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
};

class ProtocolExchange : public ProtocolTest, public ::testing::WithParamInterface<Exchange> {};

TEST_P(ProtocolExchange, GetsItsReplies) {
  expect_lines(replies("info timeout_turn 300\n" + GetParam().script), GetParam().replies);
}

INSTANTIATE_TEST_SUITE_P(Protocol, ProtocolExchange, ::testing::ValuesIn(kExchanges),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProtocolTest, EndAndExitStopTheEngineWithoutReply) {
  for (const char* command : {"end", "exit", "END"}) {
    const EngineRun run = run_engine(ENGINE_PATH, dir_.path(), std::string("start 15\n") + command + "\nabout\n",
                                     /*close_input=*/false);
    EXPECT_FALSE(run.killed) << command;
    EXPECT_EQ(run.exit_status, 0) << command;
    expect_lines(run.out, {kLoadedHere, kSize15, "OK"});
  }
}

// A model is loaded when a game needs one; a failure to load it is reported on each move
// request, whether the file cannot be read or the configuration names none.
TEST_F(ProtocolTest, AModelThatCannotBeLoadedIsReportedAndTriedAgain) {
  const std::pair<std::string, std::string> cases[] = {{"Freestyle = \"no_such_model.onnx\"", "*no_such_model.onnx*"},
                                                       {"", "*eval.model.Freestyle*"}};
  for (const auto& [line, mention] : cases) {
    write_file(dir_.path() / "config.toml", shipped_config_with("Freestyle = \"models/freestyle.onnx\"", line));
    expect_lines(replies("start 15\nbegin\nabout\nbegin\nturn 7,7\n"),
                 {kSize15, "OK", "ERROR begin: " + mention, kAbout, "ERROR begin: " + mention, "ERROR turn: " + mention});
  }
}

class StartupTest : public ::testing::Test {
 protected:
  EngineRun start(const std::string& script = "about\n") { return run_engine(ENGINE_PATH, dir_.path(), script); }

  // A start-up fault: the configuration line, then one error line repeated on stderr.
  void expect_refused(const EngineRun& run, const std::string& first_line, const std::string& error) {
    EXPECT_FALSE(run.killed);
    EXPECT_EQ(run.exit_status, 1);
    expect_lines(run.out, {first_line, error});
    expect_lines(run.err, {error});
    if (run.out.size() == 2 && run.err.size() == 1) {
      EXPECT_EQ(run.out[1], run.err[0]);
    }
  }

  TempDir dir_;
};

TEST_F(StartupTest, WithoutALocalFileTheOneNextToTheExecutableIsUsed) {
  const EngineRun run = start();
  EXPECT_EQ(run.exit_status, 0);
  expect_lines(run.out,
               {"DEBUG load config: " + (fs::path(ENGINE_PATH).parent_path() / "config.toml").string(), kAbout});
}

TEST_F(StartupTest, ConfigurationFaultsStopTheEngine) {
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
    fs::remove_all(dir_.path() / "config.toml");
    if (text.empty()) {
      fs::create_directory(dir_.path() / "config.toml");
    } else {
      write_file(dir_.path() / "config.toml", text);
    }
    expect_refused(start(), kLoadedHere, error);
  }

  // No file anywhere: a copy of the engine in a folder without one.
  const fs::path alone = dir_.path() / "alone";
  fs::create_directories(alone / "work");
  fs::copy_file(ENGINE_PATH, alone / "pbrain-tovan");
  const EngineRun run = run_engine(alone / "pbrain-tovan", alone / "work", "about\n");
  expect_refused(run, "DEBUG load config: " + (alone / "config.toml").string(), "ERROR cannot load configuration: *");
}

}  // namespace
