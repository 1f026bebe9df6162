#include "comm/posix_port.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>

#include "comm/comm_types.h"
#include "comm/posix_termios.h"

namespace comm {

namespace {

// How each line-control function code is carried out.
enum class TEscapeKind { None, ModemSet, ModemClear, BreakOn, BreakOff, Flow };
struct TEscapeAction {
  TEscapeKind kind;
  int arg;
};
constexpr std::array<TEscapeAction, 10> kEscapeActions = {{
    {TEscapeKind::None, 0},                  // 0: no function
    {TEscapeKind::Flow, TCOOFF},             // SETXOFF: act as if XOFF was received
    {TEscapeKind::Flow, TCOON},              // SETXON
    {TEscapeKind::ModemSet, TIOCM_RTS},      // SETRTS
    {TEscapeKind::ModemClear, TIOCM_RTS},    // CLRRTS
    {TEscapeKind::ModemSet, TIOCM_DTR},      // SETDTR
    {TEscapeKind::ModemClear, TIOCM_DTR},    // CLRDTR
    {TEscapeKind::None, 0},                  // 7: device reset, not for serial ports
    {TEscapeKind::BreakOn, 0},               // SETBREAK
    {TEscapeKind::BreakOff, 0},              // CLRBREAK
}};

struct TModemBit {
  int line;
  uint32_t status;
};
constexpr std::array<TModemBit, 4> kModemBits = {
    {{TIOCM_CTS, MS_CTS_ON}, {TIOCM_DSR, MS_DSR_ON}, {TIOCM_RNG, MS_RING_ON}, {TIOCM_CD, MS_RLSD_ON}}};

int Delta(int now, int before) { return now != before ? 1 : 0; }

}  // namespace

TPosixPort::~TPosixPort() { CloseHandle(); }

bool TPosixPort::CreateFile(const std::string& path) {
  CloseHandle();
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  // No sharing: an exclusive lock holds against every other opener, root included.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return false;
  }
  FHandle = fd;
  FLost.store(false);
  FBytesTaken.store(0);
  FCommMask.store(0);
  FShadow = TDeviceControlBlock{};
  FCtsFlow.store(false);
  FErrorBase = TLineCounters{};
  FHasCounters = false;
  return true;
}

bool TPosixPort::IsCharDevice() const { return FHandle >= 0 && ::isatty(FHandle) == 1; }

bool TPosixPort::PrepareLine() {
  // Exclusive mode keeps other (non-root) openers out as well; best effort.
  ::ioctl(FHandle, TIOCEXCL);
  // No echo, no translation before any byte moves.
  if (!MakeLineRaw(FHandle)) return false;
  // Whatever came in before is stale (and may sit in a line-editing buffer).
  ::tcflush(FHandle, TCIOFLUSH);
  // USB adapters otherwise hold back short answers for milliseconds; best effort.
  serial_struct serial{};
  if (::ioctl(FHandle, TIOCGSERIAL, &serial) == 0) {
    serial.flags |= ASYNC_LOW_LATENCY;
    ::ioctl(FHandle, TIOCSSERIAL, &serial);
  }
  TLineCounters counters;
  FHasCounters = ReadCounters(counters);
  if (FHasCounters) FErrorBase = counters;
  return true;
}

bool TPosixPort::CloseHandle() {
  if (FHandle < 0) return true;
  ::ioctl(FHandle, TIOCNXCL);
  const int result = ::close(FHandle);  // also drops the flock
  FHandle = -1;
  return result == 0;
}

bool TPosixPort::SetCommMask(uint32_t mask) {
  FCommMask.store(mask & kAllDeviceEvents);
  return FHandle >= 0 || (errno = EBADF, false);
}

bool TPosixPort::SetupComm(uint32_t, uint32_t) { return FHandle >= 0 || (errno = EBADF, false); }

bool TPosixPort::GetCommState(TDeviceControlBlock& dcb) {
  dcb = FShadow;
  return ReadLineSettings(FHandle, dcb);
}

bool TPosixPort::SetCommState(const TDeviceControlBlock& dcb) {
  if (!WriteLineSettings(FHandle, dcb)) return false;
  FShadow = dcb;
  FCtsFlow.store(dcb.fOutxCtsFlow);
  return true;
}

bool TPosixPort::SetCommTimeouts(const TCommTimeouts& timeouts) {
  if (FHandle < 0) {
    errno = EBADF;
    return false;
  }
  FTimeouts = timeouts;
  return true;
}

int TPosixPort::InputWaiting() const {
  int count = 0;
  return ::ioctl(FHandle, FIONREAD, &count) == 0 ? count : -1;
}

int TPosixPort::OutputWaiting() const {
  int count = 0;
  return ::ioctl(FHandle, TIOCOUTQ, &count) == 0 ? count : -1;
}

bool TPosixPort::ReadCounters(TLineCounters& counters) const {
  serial_icounter_struct icount{};
  if (::ioctl(FHandle, TIOCGICOUNT, &icount) != 0) return false;
  counters = {icount.cts,     icount.dsr,    icount.rng, icount.dcd,        icount.frame,
              icount.overrun, icount.parity, icount.brk, icount.buf_overrun};
  return true;
}

bool TPosixPort::ClearCommError(uint32_t& errors, TComStat& stat) {
  errors = 0;
  stat = TComStat{};
  if (FLost.load()) errors |= CE_DEVICE_LOST;
  if (FHandle < 0) {
    errno = EBADF;
    return false;
  }
  TLineCounters now;
  std::unique_lock lock(FErrorMutex);
  if (FHasCounters && ReadCounters(now)) {
    if (Delta(now.buf_overrun, FErrorBase.buf_overrun)) errors |= CE_RXOVER;
    if (Delta(now.overrun, FErrorBase.overrun)) errors |= CE_OVERRUN;
    if (Delta(now.parity, FErrorBase.parity)) errors |= CE_RXPARITY;
    if (Delta(now.frame, FErrorBase.frame)) errors |= CE_FRAME;
    if (Delta(now.brk, FErrorBase.brk)) errors |= CE_BREAK;
    FErrorBase = now;
  }
  lock.unlock();
  if (FCtsFlow.load()) {
    int lines = 0;
    if (::ioctl(FHandle, TIOCMGET, &lines) == 0) stat.fCtsHold = (lines & TIOCM_CTS) == 0;
  }
  const int in = InputWaiting();
  const int out = OutputWaiting();
  if (in < 0 || out < 0) return false;
  stat.cbInQue = static_cast<uint32_t>(in);
  stat.cbOutQue = static_cast<uint32_t>(out);
  return true;
}

bool TPosixPort::PurgeComm(uint32_t flags) {
  const bool tx = flags & (PURGE_TXABORT | PURGE_TXCLEAR);
  const bool rx = flags & (PURGE_RXABORT | PURGE_RXCLEAR);
  if (!tx && !rx) return true;
  return ::tcflush(FHandle, tx && rx ? TCIOFLUSH : (tx ? TCOFLUSH : TCIFLUSH)) == 0;
}

bool TPosixPort::EscapeCommFunction(int function) {
  if (function < 0 || function >= static_cast<int>(kEscapeActions.size())) {
    errno = EINVAL;
    return false;
  }
  const TEscapeAction action = kEscapeActions[static_cast<size_t>(function)];
  int bits = action.arg;
  switch (action.kind) {
    case TEscapeKind::ModemSet:
      return ::ioctl(FHandle, TIOCMBIS, &bits) == 0;
    case TEscapeKind::ModemClear:
      return ::ioctl(FHandle, TIOCMBIC, &bits) == 0;
    case TEscapeKind::BreakOn:
      return ::ioctl(FHandle, TIOCSBRK) == 0;
    case TEscapeKind::BreakOff:
      return ::ioctl(FHandle, TIOCCBRK) == 0;
    case TEscapeKind::Flow:
      return ::tcflow(FHandle, action.arg) == 0;
    case TEscapeKind::None:
      break;
  }
  errno = EINVAL;
  return false;
}

bool TPosixPort::GetCommModemStatus(uint32_t& status) {
  status = 0;
  int lines = 0;
  if (::ioctl(FHandle, TIOCMGET, &lines) != 0) return false;
  for (const auto& bit : kModemBits)
    if (lines & bit.line) status |= bit.status;
  return true;
}

int TPosixPort::ReadFile(void* buffer, uint32_t count) {
  if (FLost.load()) {
    errno = EIO;
    return -1;
  }
  const size_t wanted = std::min<size_t>(count, INT_MAX);
  for (;;) {
    const ssize_t n = ::read(FHandle, buffer, wanted);
    if (n >= 0) {
      FBytesTaken.fetch_add(static_cast<uint64_t>(n));
      return static_cast<int>(n);
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN) return 0;
    return -1;
  }
}

bool TPosixPort::WriteFile(const void* buffer, uint32_t count, uint32_t& transferred) {
  using Clock = std::chrono::steady_clock;
  transferred = 0;
  if (FLost.load()) {
    errno = EIO;
    return false;
  }
  const auto limit = std::chrono::milliseconds(
      static_cast<int64_t>(FTimeouts.WriteTotalTimeoutMultiplier) * count +
      FTimeouts.WriteTotalTimeoutConstant);
  const auto deadline = Clock::now() + limit;
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  while (transferred < count) {
    const size_t chunk = std::min<size_t>(count - transferred, INT_MAX);
    const ssize_t n = ::write(FHandle, bytes + transferred, chunk);
    if (n > 0) {
      transferred += static_cast<uint32_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return false;
    // The device queue is full: wait for room, up to the time-out.
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      errno = ETIMEDOUT;
      return false;
    }
    pollfd p{FHandle, POLLOUT, 0};
    const int r = ::poll(&p, 1, static_cast<int>(std::min<int64_t>(left, INT_MAX)));
    if (r < 0 && errno != EINTR) return false;
    if (r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
      errno = EIO;
      return false;
    }
  }
  return true;
}

}  // namespace comm
