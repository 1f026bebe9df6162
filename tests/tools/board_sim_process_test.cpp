// board-sim as a program, with a stand-in console: how a stop by signal and a
// console that fails end the run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/param_names.h"

namespace {

using namespace std::chrono_literals;

// Bounded wait for a child process to end; its wait status, or nothing.
std::optional<int> WaitExit(pid_t pid, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    int status = 0;
    const pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) return status;
    if (r < 0 || std::chrono::steady_clock::now() > deadline) return std::nullopt;
    std::this_thread::sleep_for(5ms);
  }
}

// board-sim running the demo against a shell script as its console. The
// script finds the write end of a pipe as descriptor 3.
class BoardSimProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "board-sim-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    Dir = pattern;
  }
  void TearDown() override {
    if (Pid > 0 && !WaitExit(Pid, 0ms)) {
      ::kill(Pid, SIGKILL);
      WaitExit(Pid, 10s);
    }
    if (Pipe >= 0) ::close(Pipe);
    std::error_code ignored;
    std::filesystem::remove_all(Dir, ignored);
  }

  void Start(const std::string& consoleScript) {
    const std::string console = Dir + "/console";
    std::ofstream(console) << "#!/bin/sh\n" << consoleScript << "\n";
    ASSERT_EQ(::chmod(console.c_str(), 0755), 0);
    int p[2];
    ASSERT_EQ(::pipe(p), 0);
    std::vector<std::string> args{CONSOLEW_BOARDSIM, "--console", console};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string err = Dir + "/stderr";
    Pid = ::fork();
    ASSERT_GE(Pid, 0);
    if (Pid == 0) {
      ::dup2(p[1], 3);
      const int log = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 1);
      ::dup2(log, 2);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(p[1]);
    Pipe = p[0];
  }

  // The first line the console wrote to descriptor 3 (bounded wait).
  std::string ConsoleLine() {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      pollfd fd{Pipe, POLLIN, 0};
      if (::poll(&fd, 1, 200) <= 0) continue;
      char buffer[64];
      const ssize_t n = ::read(Pipe, buffer, sizeof buffer);
      if (n <= 0) break;
      line.append(buffer, static_cast<size_t>(n));
    }
    return line.substr(0, line.find('\n'));
  }

  std::string Stderr() const {
    std::ifstream in(Dir + "/stderr");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::string Dir;
  pid_t Pid = -1;
  int Pipe = -1;
};

class BoardSimStop : public BoardSimProcess, public ::testing::WithParamInterface<int> {};

TEST_P(BoardSimStop, EndsItsConsoleAndThenItselfByTheSignal) {
  Start("echo $$ >&3\nexec sleep 600");
  const std::string line = ConsoleLine();
  ASSERT_FALSE(line.empty()) << "the console did not start\n" << Stderr();
  const pid_t console = static_cast<pid_t>(std::stol(line));
  ASSERT_EQ(::kill(Pid, GetParam()), 0);
  const auto status = WaitExit(Pid, 20s);
  ASSERT_TRUE(status.has_value()) << "board-sim did not stop";
  Pid = -1;
  EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == GetParam()) << *status;
  // board-sim has waited for its console: it is gone, not left running.
  const bool consoleGone = ::kill(console, 0) != 0 && errno == ESRCH;
  EXPECT_TRUE(consoleGone);
  if (!consoleGone) ::kill(console, SIGKILL);
}

INSTANTIATE_TEST_SUITE_P(Signals, BoardSimStop, ::testing::Values(SIGTERM, SIGINT),
                         testsupport::TIndexName());

TEST_F(BoardSimProcess, DemoFailsWhenTheConsoleFails) {
  // As consolew does without a display: one line and status 1.
  Start("echo started >&3\necho 'consolew: no display found' >&2\nexit 1");
  ASSERT_EQ(ConsoleLine(), "started");
  const auto status = WaitExit(Pid, 20s);
  ASSERT_TRUE(status.has_value()) << "board-sim did not end";
  Pid = -1;
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 1) << *status << "\n" << Stderr();
  EXPECT_NE(Stderr().find("board-sim: the console exited with status 1\n"), std::string::npos)
      << Stderr();
}

}  // namespace
