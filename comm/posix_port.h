// The serial device on Linux: the handful of device operations the component is built
// on, each answering the way the component expects (true on success, false with errno set).
#pragma once

#include <atomic>
#include <mutex>
#include <cstdint>
#include <string>

#include "comm/comm_records.h"

namespace comm {

// Counters the driver keeps for the line (where it offers them; not on pseudo-terminals).
struct TLineCounters {
  int cts = 0, dsr = 0, rng = 0, dcd = 0, frame = 0, overrun = 0, parity = 0, brk = 0,
      buf_overrun = 0;
};

class TPosixPort {
 public:
  TPosixPort() = default;
  ~TPosixPort();
  TPosixPort(const TPosixPort&) = delete;
  TPosixPort& operator=(const TPosixPort&) = delete;

  // Opens `path` read/write, non-blocking, never as controlling terminal, for this port
  // alone: a device another program holds (flock) fails with EWOULDBLOCK.
  bool CreateFile(const std::string& path);
  bool IsValid() const { return FHandle >= 0; }
  int Handle() const { return FHandle; }
  // True for a terminal device.
  bool IsCharDevice() const;
  // Prepares an opened terminal: exclusive mode, raw mode, low latency (best effort).
  bool PrepareLine();
  // Closes the device; the handle becomes invalid.
  bool CloseHandle();

  // The events the device is asked to report (read by the event thread).
  bool SetCommMask(uint32_t mask);
  uint32_t CommMask() const { return FCommMask.load(); }
  // Queue sizes: the kernel sizes its own queues; accepted and ignored.
  bool SetupComm(uint32_t inQueue, uint32_t outQueue);
  bool GetCommState(TDeviceControlBlock& dcb);
  bool SetCommState(const TDeviceControlBlock& dcb);
  bool SetCommTimeouts(const TCommTimeouts& timeouts);
  const TCommTimeouts& CommTimeouts() const { return FTimeouts; }

  // Queue counts and the error flags (CE_*) gathered since the last call.
  bool ClearCommError(uint32_t& errors, TComStat& stat);
  bool PurgeComm(uint32_t flags);
  bool EscapeCommFunction(int function);
  bool GetCommModemStatus(uint32_t& status);

  // Bytes waiting in the input queue (-1 with errno on failure).
  int InputWaiting() const;
  int OutputWaiting() const;
  // The driver's line counters; false where it keeps none.
  bool ReadCounters(TLineCounters& counters) const;

  // Takes up to `count` bytes that are waiting, never blocking: the number taken, or -1.
  int ReadFile(void* buffer, uint32_t count);
  // Bytes taken by ReadFile since the port was opened; with InputWaiting it tells whether
  // anything arrived between two looks.
  uint64_t BytesTaken() const { return FBytesTaken.load(); }
  // Writes all `count` bytes, waiting for room with poll for at most the write time-out
  // (multiplier × count + constant ms). `transferred` is what went out; false on time-out
  // (ETIMEDOUT) or failure.
  bool WriteFile(const void* buffer, uint32_t count, uint32_t& transferred);

  // The device has gone; transfers fail from now on until the port is closed.
  void MarkLost() { FLost.store(true); }
  bool Lost() const { return FLost.load(); }

 private:
  int FHandle = -1;
  std::atomic<uint32_t> FCommMask{0};
  std::atomic<bool> FLost{false};
  std::atomic<uint64_t> FBytesTaken{0};
  TCommTimeouts FTimeouts{};
  TDeviceControlBlock FShadow{};  // fields the device does not keep
  std::atomic<bool> FCtsFlow{false};
  std::mutex FErrorMutex;         // ClearCommError may run on two threads
  TLineCounters FErrorBase{};     // counters at the last ClearCommError
  bool FHasCounters = false;
};

}  // namespace comm
