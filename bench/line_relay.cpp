#include "bench/line_relay.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <deque>

#include "bench/fd_io.h"

namespace bench {

namespace {

using TClock = std::chrono::steady_clock;

constexpr size_t kBurst = 12;  // about 1 ms of bytes at 115200 bit/s

// One direction of the line: bytes with the time their stop bit arrives.
struct TDirection {
  int From;
  int To;
  std::deque<std::pair<uint8_t, TClock::time_point>> Queue;
  TClock::time_point LineFree{};

  void Take(TClock::duration byteTime) {
    uint8_t buf[4096];
    const ssize_t n = ::read(From, buf, sizeof buf);
    if (n <= 0) return;
    const auto now = TClock::now();
    for (ssize_t i = 0; i < n; ++i) {
      LineFree = std::max(LineFree, now) + byteTime;
      Queue.emplace_back(buf[i], LineFree);
    }
  }
  // When the next burst is due: a burst's worth of bytes, or the last byte queued.
  TClock::time_point NextDue() const {
    return Queue[std::min(kBurst, Queue.size()) - 1].second;
  }
  void Deliver(TClock::time_point now) {
    uint8_t buf[4096];
    size_t n = 0;
    while (!Queue.empty() && Queue.front().second <= now && n < sizeof buf) {
      buf[n++] = Queue.front().first;
      Queue.pop_front();
    }
    if (n > 0) WriteAll(To, buf, n);
  }
};

}  // namespace

TLineRelay::TLineRelay(int a, int b, uint32_t bitsPerSecond) : A(a), B(b), Bps(bitsPerSecond) {
  Worker = std::thread([this] { Run(); });
}

TLineRelay::~TLineRelay() {
  Stop = true;
  Worker.join();
}

void TLineRelay::Run() {
  const auto byteTime = std::chrono::duration_cast<TClock::duration>(
      std::chrono::duration<double>(10.0 / Bps));
  TDirection dirs[2] = {{A, B, {}, {}}, {B, A, {}, {}}};
  while (!Stop) {
    auto wake = TClock::now() + std::chrono::milliseconds(20);
    for (auto& d : dirs)
      if (!d.Queue.empty()) wake = std::min(wake, d.NextDue());
    const auto wait = std::max(TClock::duration::zero(), wake - TClock::now());
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
    timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    pollfd pfds[2] = {{A, POLLIN, 0}, {B, POLLIN, 0}};
    if (::ppoll(pfds, 2, &ts, nullptr) > 0) {
      for (int i = 0; i < 2; ++i)
        if (pfds[i].revents & POLLIN) dirs[i].Take(byteTime);
    }
    const auto now = TClock::now();
    for (auto& d : dirs)
      if (!d.Queue.empty() && d.NextDue() <= now) d.Deliver(now);
  }
}

}  // namespace bench
