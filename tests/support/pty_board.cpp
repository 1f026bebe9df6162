#include "tests/support/pty_board.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>

namespace testsupport {

TPtyBoard::TPtyBoard() {
  Master = posix_openpt(O_RDWR | O_NOCTTY);
  if (Master < 0 || grantpt(Master) != 0 || unlockpt(Master) != 0) throw std::runtime_error("no pty");
  Slave = ptsname(Master);
  termios t{};
  tcgetattr(Master, &t);
  cfmakeraw(&t);
  tcsetattr(Master, TCSANOW, &t);
}

TPtyBoard::~TPtyBoard() { Hangup(); }

void TPtyBoard::Hangup() {
  if (Master >= 0) close(Master);
  Master = -1;
}

void TPtyBoard::Write(const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(Master, bytes.data() + done, bytes.size() - done);
    if (n <= 0) throw std::runtime_error("pty write failed");
    done += static_cast<size_t>(n);
  }
}

std::vector<uint8_t> TPtyBoard::Read(size_t n, int timeoutMs) {
  std::vector<uint8_t> out;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (out.size() < n) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) break;
    pollfd p{Master, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) break;
    uint8_t buf[4096];
    const ssize_t got = ::read(Master, buf, std::min(sizeof buf, n - out.size()));
    if (got <= 0) break;
    out.insert(out.end(), buf, buf + got);
  }
  return out;
}

}  // namespace testsupport
