// Handing a device event from the event thread to the window thread.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace comm {

// Runs a callable on the window thread. The component calls it on its event thread with
// a callable that runs the event hooks, and then waits itself (in a wait that Close can
// cancel) until the callable has run. The contract for an implementation:
//  - arrange for `call` to run on the window thread, at most once; it may run it before
//    returning, but must not block waiting for the window thread (post it, e.g. with
//    QMetaObject::invokeMethod(qApp, std::move(call), Qt::QueuedConnection) — not with a
//    blocking queued connection, which deadlocks against a Close on the window thread);
//  - `call` may run after Close or after the component is gone: it then does nothing;
//    it may also be dropped without running (the application quitting);
//  - it must not throw.
// No function set: the hooks run directly on the event thread.
using TSynchronize = std::function<void(std::function<void()> call)>;

// One hand-over: pending until the window thread runs it, or cancelled by Close first.
class THandOver {
 public:
  // Runs `hooks` unless the hand-over was cancelled before it started. An exception from
  // the hooks is dropped: it has nowhere to go on a posted call.
  void Run(const std::function<void()>& hooks);
  // Close: a pending hand-over is dropped; one that is running on the calling thread (Close
  // from inside a hook) is abandoned; one running on another thread is waited for.
  void Cancel();
  // Event thread: blocks until the hand-over has run, was dropped or abandoned.
  void Wait();

 private:
  enum class TState { Pending, Running, Done, Cancelled };
  std::mutex FMutex;
  std::condition_variable FChanged;
  TState FState = TState::Pending;
  std::thread::id FRunner;
  bool FAbandoned = false;
};

}  // namespace comm
