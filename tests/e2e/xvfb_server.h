// An X server for the tests that need real X events.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace e2e {

// An X server on a display number it picks itself (-displayfd), ended with the test.
class TXvfb {
 public:
  explicit TXvfb(const std::string& binary) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    const std::string fd = std::to_string(fds[1]);
    Pid = ::fork();
    if (Pid == 0) {
      ::fcntl(fds[1], F_SETFD, 0);  // the server writes its display number here
      const int devnull = ::open("/dev/null", O_WRONLY);
      ::dup2(devnull, 1);
      ::dup2(devnull, 2);
      ::execl(binary.c_str(), binary.c_str(), "-displayfd", fd.c_str(), "-noreset", "-nolisten",
              "tcp", "-screen", "0", "1024x768x24", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(fds[1]);
    // Ready when it has written the number (bounded wait for a real event).
    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (Pid > 0 && std::chrono::steady_clock::now() < deadline) {
      pollfd p{fds[0], POLLIN, 0};
      if (::poll(&p, 1, 200) <= 0) continue;
      char c;
      if (::read(fds[0], &c, 1) != 1) break;
      if (c == '\n') {
        Display = ":" + number;
        break;
      }
      number += c;
    }
    ::close(fds[0]);
  }
  ~TXvfb() {
    if (Pid <= 0) return;
    ::kill(Pid, SIGTERM);
    ::waitpid(Pid, nullptr, 0);
  }
  TXvfb(const TXvfb&) = delete;
  TXvfb& operator=(const TXvfb&) = delete;

  std::string Display;  // empty when the server did not come up

 private:
  pid_t Pid = -1;
};

}  // namespace e2e
