#include "keyboard/key_pacer.h"

#include "keyboard/keyboard.h"

namespace keyboard {

bool TKeyPacer::Push(TTerminalInput input, TKeyboard& keyboard) {
  if (Inputs.size() >= kMaxWaiting) {
    keyboard.RefuseKey();
    return false;
  }
  Inputs.push_back(std::move(input));
  return true;
}

size_t TKeyPacer::Feed(TKeyboard& keyboard) {
  // An input carried out may lead back here (a command that redraws, a key
  // hook): the outer loop goes on in order.
  if (Feeding) return 0;
  Feeding = true;
  size_t fed = 0;
  while (!Inputs.empty() && keyboard.QueueCount() + 1 < kKeyQueueSize) {
    const TTerminalInput input = std::move(Inputs.front());
    Inputs.pop_front();
    if (Apply) {
      Apply(input);
    } else {
      ApplyTerminalInput(keyboard, input);
    }
    ++fed;
  }
  Feeding = false;
  return fed;
}

}  // namespace keyboard
