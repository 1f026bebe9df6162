#include "frontends/signal_pipe.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <vector>

namespace app {

namespace {

// The one write end the handlers use (signal handlers cannot carry state).
std::atomic<int> WriteFd{-1};
std::vector<int> Caught;

void OnSignalCaught(int signo) {
  const int fd = WriteFd.load();
  if (fd < 0) return;
  const unsigned char b = static_cast<unsigned char>(signo);
  const int saved = errno;
  [[maybe_unused]] const ssize_t n = ::write(fd, &b, 1);
  errno = saved;
}

}  // namespace

TSignalPipe::TSignalPipe(std::initializer_list<int> signalNumbers, std::function<void(int)> onSignal)
    : OnSignal(std::move(onSignal)) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
  ReadFd = fds[0];
  WriteFd.store(fds[1]);
  Notifier = std::make_unique<QSocketNotifier>(ReadFd, QSocketNotifier::Read);
  QObject::connect(Notifier.get(), &QSocketNotifier::activated, [this] {
    unsigned char b;
    while (::read(ReadFd, &b, 1) == 1) {
      if (OnSignal) OnSignal(b);
    }
  });
  struct sigaction sa {};
  sa.sa_handler = OnSignalCaught;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int s : signalNumbers) {
    ::sigaction(s, &sa, nullptr);
    Caught.push_back(s);
  }
}

TSignalPipe::~TSignalPipe() {
  for (int s : Caught) ::signal(s, SIG_DFL);
  Caught.clear();
  const int w = WriteFd.exchange(-1);
  Notifier.reset();
  if (w >= 0) ::close(w);
  if (ReadFd >= 0) ::close(ReadFd);
}

}  // namespace app
