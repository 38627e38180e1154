#include "engine_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <system_error>

namespace {

[[noreturn]] void fail(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t begin = 0;
  for (size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1) {
    lines.push_back(text.substr(begin, end - begin));
  }
  if (begin < text.size()) lines.push_back(text.substr(begin));
  return lines;
}

}  // namespace

EngineRun run_engine(const std::filesystem::path& program, const std::filesystem::path& working_dir,
                     const std::string& input, bool close_input, int timeout_s) {
  // A child that stops reading must not kill the test through SIGPIPE.
  signal(SIGPIPE, SIG_IGN);
  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (pipe(in_pipe) != 0 || pipe(out_pipe) != 0 || pipe(err_pipe) != 0) fail("pipe");

  const pid_t pid = fork();
  if (pid < 0) fail("fork");
  if (pid == 0) {
    signal(SIGPIPE, SIG_DFL);
    dup2(in_pipe[0], STDIN_FILENO);
    dup2(out_pipe[1], STDOUT_FILENO);
    dup2(err_pipe[1], STDERR_FILENO);
    for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) close(fd);
    if (chdir(working_dir.c_str()) != 0) _exit(126);
    execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  int to_child = in_pipe[1];
  fcntl(to_child, F_SETFL, O_NONBLOCK);

  std::string out_text, err_text;
  int from_child[2] = {out_pipe[0], err_pipe[0]};
  std::string* texts[2] = {&out_text, &err_text};
  size_t written = 0;
  EngineRun run;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);

  while (from_child[0] >= 0 || from_child[1] >= 0) {
    if (to_child >= 0 && written == input.size() && close_input) {
      close(to_child);
      to_child = -1;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      kill(pid, SIGKILL);
      run.killed = true;
      break;
    }
    pollfd fds[3] = {
        {from_child[0], POLLIN, 0}, {from_child[1], POLLIN, 0}, {written < input.size() ? to_child : -1, POLLOUT, 0}};
    if (poll(fds, 3, static_cast<int>(left.count())) < 0 && errno != EINTR) fail("poll");
    for (int i = 0; i < 2; ++i) {
      if (fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t count = read(from_child[i], buffer, sizeof buffer);
      if (count > 0) {
        texts[i]->append(buffer, static_cast<size_t>(count));
      } else if (count == 0 || errno != EINTR) {
        close(from_child[i]);
        from_child[i] = -1;
      }
    }
    if (fds[2].revents != 0) {
      const ssize_t count = write(to_child, input.data() + written, input.size() - written);
      if (count > 0) {
        written += static_cast<size_t>(count);
      } else if (errno == EPIPE) {
        written = input.size();  // the child is gone; the rest of the script is moot
      }
    }
  }
  for (int fd : {to_child, from_child[0], from_child[1]}) {
    if (fd >= 0) close(fd);
  }
  // The output pipes reach end of file when the child exits; anything else was killed above.
  int status = 0;
  if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) run.exit_status = WEXITSTATUS(status);
  run.out = split_lines(out_text);
  run.err = split_lines(err_text);
  return run;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tovan-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) fail("mkdtemp");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}
