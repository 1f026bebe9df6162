// Keys typed into a terminal or a pty, and the commands typed among them, wait
// here until the board's key queue has room, and go in in the order typed: a
// line sent at once (by an expect script, or pasted into the terminal) reaches
// the board whole, and a command acts after the keys typed before it and before
// those typed after it. The wait is bounded: past kMaxWaiting an input is
// refused and counted as a dropped key, as the full queue refuses one.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>

#include "keyboard/terminal_keys.h"

namespace keyboard {

class TKeyboard;

class TKeyPacer {
 public:
  // Inputs that may wait; a board that reads no keys holds this many at most.
  static constexpr size_t kMaxWaiting = 4096;

  // Appends an input (keys, or a command for `Apply`); false when kMaxWaiting
  // wait already: the input is dropped and counted in the keyboard's DroppedKeys.
  bool Push(TTerminalInput input, TKeyboard& keyboard);
  // The same for a board elsewhere: false when full, the caller counts the drop.
  bool Push(TTerminalInput input);
  // Hands the waiting inputs to `Apply` in order, each while the key queue
  // has room for one more code (a command waits for room as a key does: it may
  // queue one). Returns how many went. Called when typed, on every tick and
  // after every keyboard call of the board.
  size_t Feed(TKeyboard& keyboard);
  // The same with the room told by `room` (a board behind a socket).
  size_t Feed(const std::function<bool()>& room);
  size_t Waiting() const { return Inputs.size(); }
  void Clear() { Inputs.clear(); }

  // Carries one input out (keys into the keyboard, a command in the front-end).
  std::function<void(const TTerminalInput&)> Apply;

 private:
  size_t FeedWith(const std::function<bool()>& room, const std::function<void(const TTerminalInput&)>& fallback);

  std::deque<TTerminalInput> Inputs;
  bool Feeding = false;
};

}  // namespace keyboard
