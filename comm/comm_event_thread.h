// The background thread that waits for device events and hands each one over to the
// window thread, waiting until the hooks have run.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "comm/comm_hand_over.h"
#include "comm/comm_types.h"
#include "comm/posix_port.h"

namespace comm {

class TCommEventThread : public std::enable_shared_from_this<TCommEventThread> {
 public:
  // Called on the window thread (or directly, see TSynchronize) with the event mask.
  using TEventHook = std::function<void(TCommEventThread* thread, uint32_t mask)>;

  // Creates the thread suspended, and narrows the port's event mask to `events`.
  // `port` must stay open until Terminate has returned.
  static std::shared_ptr<TCommEventThread> Create(TPosixPort& port, uint32_t suspendTime,
                                                  TCommEventTypes events, TSynchronize sync);
  ~TCommEventThread();
  TCommEventThread(const TCommEventThread&) = delete;
  TCommEventThread& operator=(const TCommEventThread&) = delete;

  void SetEventHook(TEventHook hook);
  // Starts the thread (may throw std::system_error).
  void Resume();
  // Makes a waiting thread look at the device again (after a write, for EV_TXEMPTY).
  void Nudge();
  // Clears the hook, cancels a pending hand-over, wakes the thread and waits for it to end.
  // From inside a hook running on the thread itself it lets the thread end on its own and
  // returns true; the hook's callers may then still be unwinding (see WaitFinished). After
  // this returns no further hook runs and the thread no longer touches the port.
  bool Terminate();
  // Waits until the thread has left Execute; false at once when called on the thread itself.
  bool WaitFinished();

  uint32_t EventMask() const { return FEventMask; }
  uint32_t SuspendTime() const { return FSuspendTime; }

 private:
  TCommEventThread(TPosixPort& port, uint32_t suspendTime, TSynchronize sync, int wake);
  void Execute();
  bool StopRequested();
  // Waits for the next device event; the mask of what happened (0: nothing to report).
  uint32_t WaitCommEvent();
  int PollTimeout(uint32_t monitored) const;
  uint32_t CheckInput(bool pollIn);
  uint64_t Arrivals(int waiting) const;
  uint32_t CheckOutput();
  uint32_t CheckCounters();
  void HandOver(uint32_t mask);
  void AfterHandOver();

  TPosixPort& FPort;
  const uint32_t FSuspendTime;
  const TSynchronize FSync;
  const int FWake;  // eventfd that ends a wait
  uint32_t FEventMask = 0;
  std::thread FThread;
  std::thread::id FThreadId;  // stays known after a detach

  std::mutex FMutex;  // guards the four below
  std::condition_variable FFinishedChanged;
  bool FFinished = false;
  bool FStop = false;
  TEventHook FHook;
  std::shared_ptr<THandOver> FCurrent;

  // Wait state, touched by the thread only.
  bool FLost = false;
  // Arrivals are counted as bytes taken plus bytes waiting, which grows with every byte
  // that comes in, read or not.
  bool FRxHeld = false;      // bytes sit unread: watch the arrivals instead of readiness
  uint64_t FRxMark = 0;      // arrivals when the last event was seen (or held)
  bool FOutPending = false;
  bool FHasCounters = false;
  TLineCounters FCounters{};
};

}  // namespace comm
