#include "keyboard/key_pacer.h"

#include "keyboard/keyboard.h"

namespace keyboard {

bool TKeyPacer::Push(TTerminalInput input, TKeyboard& keyboard) {
  if (Push(std::move(input))) return true;
  keyboard.RefuseKey();
  return false;
}

bool TKeyPacer::Push(TTerminalInput input) {
  if (Inputs.size() >= kMaxWaiting) return false;
  Inputs.push_back(std::move(input));
  return true;
}

size_t TKeyPacer::Feed(TKeyboard& keyboard) {
  return FeedWith([&keyboard] { return keyboard.QueueCount() + 1 < kKeyQueueSize; },
                  [&keyboard](const TTerminalInput& input) { ApplyTerminalInput(keyboard, input); });
}

size_t TKeyPacer::Feed(const std::function<bool()>& room) {
  return FeedWith(room, [](const TTerminalInput&) {});
}

size_t TKeyPacer::FeedWith(const std::function<bool()>& room,
                           const std::function<void(const TTerminalInput&)>& fallback) {
  // An input carried out may lead back here (a command that redraws, a key
  // hook): the outer loop goes on in order.
  if (Feeding) return 0;
  Feeding = true;
  size_t fed = 0;
  while (!Inputs.empty() && room()) {
    const TTerminalInput input = std::move(Inputs.front());
    Inputs.pop_front();
    if (Apply) {
      Apply(input);
    } else {
      fallback(input);
    }
    ++fed;
  }
  Feeding = false;
  return fed;
}

}  // namespace keyboard
