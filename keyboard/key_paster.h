// Text typed into the board as keystrokes: each character becomes the key
// messages a US keyboard sends for it, through the same translation as keys
// typed in a terminal, so the board sees the same codes and shift flags. The
// characters go in only while the key queue has room: none is dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string_view>

namespace keyboard {

class TKeyboard;

class TKeyPaster {
 public:
  // Slots left free for keys the user types during a long paste.
  static constexpr size_t kRoomForTyping = 4;

  // Queues UTF-8 text behind what is still waiting. Line ends (CR, LF, CR LF)
  // become Enter, a tab Tab; characters without a key on a US keyboard
  // (control characters, anything beyond ASCII) are left out and counted.
  void Paste(std::string_view text);
  // Types waiting characters while the queue has room (the tick, and every
  // keyboard call of the board, call it). Returns the number typed.
  size_t Feed(TKeyboard& keyboard);
  size_t Waiting() const { return Chars.size(); }
  void Clear() { Chars.clear(); }

  // Characters of the pastes so far that had no key.
  size_t Skipped = 0;

 private:
  std::deque<uint8_t> Chars;
};

}  // namespace keyboard
