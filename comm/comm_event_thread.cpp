#include "comm/comm_event_thread.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace comm {

namespace {
// Line events seen only through the driver's counters, which are looked at this often.
constexpr int kCounterCheckMs = 50;
constexpr uint32_t kCounterEvents = EV_CTS | EV_DSR | EV_RING | EV_RLSD | EV_BREAK | EV_ERR;
constexpr short kGone = POLLHUP | POLLERR | POLLNVAL;

int MinTimeout(int current, int candidate) {
  return current < 0 ? candidate : std::min(current, candidate);
}
}  // namespace

std::shared_ptr<TCommEventThread> TCommEventThread::Create(TPosixPort& port, uint32_t suspendTime,
                                                           TCommEventTypes events,
                                                           TSynchronize sync) {
  const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
  std::shared_ptr<TCommEventThread> thread(
      new TCommEventThread(port, suspendTime, std::move(sync), wake));
  thread->FEventMask = DeviceMaskOf(events);
  port.SetCommMask(thread->FEventMask);
  return thread;
}

TCommEventThread::TCommEventThread(TPosixPort& port, uint32_t suspendTime, TSynchronize sync,
                                   int wake)
    : FPort(port), FSuspendTime(suspendTime), FSync(std::move(sync)), FWake(wake) {}

TCommEventThread::~TCommEventThread() {
  if (FThread.joinable()) FThread.detach();  // only reached if never terminated
  ::close(FWake);
}

void TCommEventThread::SetEventHook(TEventHook hook) {
  std::lock_guard lock(FMutex);
  FHook = std::move(hook);
}

void TCommEventThread::Resume() {
  TLineCounters counters;
  FHasCounters = FPort.ReadCounters(counters);
  if (FHasCounters) FCounters = counters;
  // The thread keeps itself alive: after a Close from inside a hook it ends on its own.
  FThread = std::thread([self = shared_from_this()] {
    self->Execute();
    std::lock_guard lock(self->FMutex);
    self->FFinished = true;
    self->FFinishedChanged.notify_all();
  });
  FThreadId = FThread.get_id();
}

void TCommEventThread::Nudge() {
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(FWake, &one, sizeof one);
}

bool TCommEventThread::WaitFinished() {
  if (FThreadId == std::this_thread::get_id()) return false;
  std::unique_lock lock(FMutex);
  FFinishedChanged.wait(lock, [this] { return FFinished || FThreadId == std::thread::id(); });
  return true;
}

bool TCommEventThread::Terminate() {
  std::shared_ptr<THandOver> current;
  {
    std::lock_guard lock(FMutex);
    FStop = true;
    FHook = nullptr;
    current = FCurrent;
  }
  if (current) current->Cancel();
  Nudge();
  if (!FThread.joinable()) return false;
  if (FThread.get_id() == std::this_thread::get_id()) {
    FThread.detach();
    return true;
  }
  FThread.join();
  return false;
}

bool TCommEventThread::StopRequested() {
  std::lock_guard lock(FMutex);
  return FStop;
}

void TCommEventThread::Execute() {
  while (!StopRequested()) {
    const uint32_t mask = WaitCommEvent();
    if (mask == 0 || StopRequested()) continue;
    HandOver(mask);
    if (StopRequested()) break;  // the port may be closed already: do not touch it
    AfterHandOver();
  }
}

int TCommEventThread::PollTimeout(uint32_t monitored) const {
  int timeout = -1;
  const int recheck = static_cast<int>(std::clamp<uint32_t>(FSuspendTime, 1, 1000));
  if ((monitored & EV_RXCHAR) && FRxHeld) timeout = MinTimeout(timeout, recheck);
  if ((monitored & EV_TXEMPTY) && FOutPending) timeout = MinTimeout(timeout, recheck);
  if (FHasCounters && (monitored & kCounterEvents)) timeout = MinTimeout(timeout, kCounterCheckMs);
  return timeout;
}

uint32_t TCommEventThread::WaitCommEvent() {
  const uint32_t monitored = FPort.CommMask();
  pollfd fds[2] = {{FWake, POLLIN, 0}, {-1, 0, 0}};
  nfds_t count = 1;
  int timeout = -1;
  if (!FLost) {
    const bool wantInput = (monitored & EV_RXCHAR) && !FRxHeld;
    fds[1] = {FPort.Handle(), static_cast<short>(wantInput ? POLLIN : 0), 0};
    count = 2;
    timeout = PollTimeout(monitored);
  }
  const int r = ::poll(fds, count, timeout);
  if (r < 0 && errno == EINTR) return 0;
  if (fds[0].revents & POLLIN) {
    uint64_t value;
    [[maybe_unused]] ssize_t n = ::read(FWake, &value, sizeof value);
  }
  if (FLost || StopRequested()) return 0;

  uint32_t mask = 0;
  if (r < 0 || (fds[1].revents & kGone)) {
    // The device has gone: report it once, whatever is monitored, and stop watching it.
    FLost = true;
    FPort.MarkLost();
    mask |= EV_ERR;
  }
  if (monitored & EV_RXCHAR) mask |= CheckInput((fds[1].revents & POLLIN) != 0);
  if (FLost) return mask;
  if (monitored & EV_TXEMPTY) mask |= CheckOutput();
  if (FHasCounters && (monitored & kCounterEvents)) mask |= CheckCounters() & monitored;
  return mask;
}

uint64_t TCommEventThread::Arrivals(int waiting) const {
  return FPort.BytesTaken() + static_cast<uint64_t>(waiting > 0 ? waiting : 0);
}

uint32_t TCommEventThread::CheckInput(bool pollIn) {
  const int waiting = FPort.InputWaiting();
  if (waiting <= 0) {
    // Readiness with nothing to read (should not happen in raw mode): look again later
    // rather than spin on it.
    FRxHeld = pollIn && waiting == 0 && !FLost;
    FRxMark = Arrivals(waiting);
    return 0;
  }
  const uint64_t arrivals = Arrivals(waiting);
  if (FRxHeld && arrivals <= FRxMark) {
    FRxMark = arrivals;  // nothing new (a purge may have dropped some)
    return 0;
  }
  FRxMark = arrivals;
  return EV_RXCHAR;
}

uint32_t TCommEventThread::CheckOutput() {
  const int waiting = FPort.OutputWaiting();
  if (waiting > 0) {
    FOutPending = true;
    return 0;
  }
  if (waiting == 0 && FOutPending) {
    FOutPending = false;
    return EV_TXEMPTY;
  }
  return 0;
}

uint32_t TCommEventThread::CheckCounters() {
  TLineCounters now;
  if (!FPort.ReadCounters(now)) return 0;
  uint32_t mask = 0;
  if (now.cts != FCounters.cts) mask |= EV_CTS;
  if (now.dsr != FCounters.dsr) mask |= EV_DSR;
  if (now.rng != FCounters.rng) mask |= EV_RING;
  if (now.dcd != FCounters.dcd) mask |= EV_RLSD;
  if (now.brk != FCounters.brk) mask |= EV_BREAK;
  if (now.frame != FCounters.frame || now.overrun != FCounters.overrun ||
      now.parity != FCounters.parity || now.buf_overrun != FCounters.buf_overrun)
    mask |= EV_ERR;
  FCounters = now;
  return mask;
}

void TCommEventThread::HandOver(uint32_t mask) {
  auto handOver = std::make_shared<THandOver>();
  TEventHook hook;
  {
    std::lock_guard lock(FMutex);
    if (FStop || !FHook) return;
    hook = FHook;
    FCurrent = handOver;
  }
  // The call holds no reference to this thread object: if it runs after a cancel, it
  // does nothing.
  auto call = [handOver, hook = std::move(hook), self = this, mask] {
    handOver->Run([&] { hook(self, mask); });
  };
  try {
    if (FSync)
      FSync(std::move(call));
    else
      call();
  } catch (...) {
    handOver->Cancel();  // could not be posted: drop this event
  }
  handOver->Wait();
  std::lock_guard lock(FMutex);
  FCurrent.reset();
}

void TCommEventThread::AfterHandOver() {
  if (FLost || !(FPort.CommMask() & EV_RXCHAR)) return;
  // Bytes left unread with nothing new since the event: wait for more to arrive rather than
  // announce the same bytes again and again. Anything new: the next wait reports it at once.
  const int waiting = FPort.InputWaiting();
  FRxHeld = waiting > 0 && Arrivals(waiting) <= FRxMark;
}

}  // namespace comm
