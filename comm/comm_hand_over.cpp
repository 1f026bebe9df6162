#include "comm/comm_hand_over.h"

namespace comm {

void THandOver::Run(const std::function<void()>& hooks) {
  {
    std::lock_guard lock(FMutex);
    if (FState != TState::Pending) return;
    FState = TState::Running;
    FRunner = std::this_thread::get_id();
  }
  try {
    hooks();
  } catch (...) {
  }
  {
    std::lock_guard lock(FMutex);
    FState = TState::Done;
  }
  FChanged.notify_all();
}

void THandOver::Cancel() {
  {
    std::lock_guard lock(FMutex);
    if (FState == TState::Pending)
      FState = TState::Cancelled;
    else if (FState == TState::Running && FRunner == std::this_thread::get_id())
      FAbandoned = true;
  }
  FChanged.notify_all();
}

void THandOver::Wait() {
  std::unique_lock lock(FMutex);
  FChanged.wait(lock, [this] {
    return FState == TState::Done || FState == TState::Cancelled || FAbandoned;
  });
}

}  // namespace comm
