// Runs the engine executable as a child process for the protocol tests: the whole input
// script goes to its standard input, its output lines and exit status come back.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

struct EngineRun {
  std::vector<std::string> out;  // standard output, one entry per line
  std::vector<std::string> err;  // standard error, one entry per line
  int exit_status = -1;          // -1 unless the process exited normally
  bool killed = false;           // true when the safety timeout stopped it
};

// Starts `program` in `working_dir`, writes `input` to its standard input and closes that
// when `close_input` is set (otherwise the process has to stop by itself). A process still
// running after `timeout_s` seconds is killed, so a hang fails a test instead of blocking.
EngineRun run_engine(const std::filesystem::path& program, const std::filesystem::path& working_dir,
                     const std::string& input, bool close_input = true, int timeout_s = 20);

// A fresh directory under the system temporary folder, removed with its content.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};
