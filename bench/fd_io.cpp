#include "bench/fd_io.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace bench {

bool ReadExact(int fd, void* buffer, size_t n, int timeoutMs, bool quickAck) {
  auto* p = static_cast<uint8_t*>(buffer);
  size_t got = 0;
  while (got < n) {
    const ssize_t r = ::read(fd, p + got, n - got);
    if (r > 0 && quickAck) {
      const int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
    }
    if (r > 0) {
      got += static_cast<size_t>(r);
      continue;
    }
    if (r < 0 && errno != EAGAIN && errno != EINTR) return false;
    // A pty slave answers 0 (not EAGAIN) when empty: wait for input either way.
    pollfd pfd{fd, POLLIN, 0};
    const int k = ::poll(&pfd, 1, timeoutMs);
    if (k == 0) return false;
    if (k < 0 && errno != EINTR) return false;
    if (k > 0 && (pfd.revents & POLLIN) == 0 && (pfd.revents & (POLLHUP | POLLERR)) != 0)
      return false;
  }
  return true;
}

bool WriteAll(int fd, const void* buffer, size_t n) {
  const auto* p = static_cast<const uint8_t*>(buffer);
  size_t put = 0;
  while (put < n) {
    const ssize_t w = ::write(fd, p + put, n - put);
    if (w > 0) {
      put += static_cast<size_t>(w);
      continue;
    }
    if (w < 0 && errno != EAGAIN && errno != EINTR) return false;
    pollfd pfd{fd, POLLOUT, 0};
    if (::poll(&pfd, 1, 5000) <= 0) return false;
  }
  return true;
}

void Drain(int fd, int quietMs) {
  uint8_t scratch[4096];
  for (;;) {
    pollfd pfd{fd, POLLIN, 0};
    if (::poll(&pfd, 1, quietMs) <= 0) return;
    if (::read(fd, scratch, sizeof scratch) <= 0) return;
  }
}

void MakeRawNonBlocking(int fd) {
  termios t{};
  if (::tcgetattr(fd, &t) == 0) {
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    ::tcsetattr(fd, TCSANOW, &t);
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

}  // namespace bench
