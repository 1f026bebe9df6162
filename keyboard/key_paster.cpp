#include "keyboard/key_paster.h"

#include "keyboard/keyboard.h"
#include "keyboard/terminal_keys.h"

namespace keyboard {

namespace {

bool IsLetter(uint8_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsContinuation(uint8_t c) { return (c & 0xC0) == 0x80; }

}  // namespace

void TKeyPaster::Paste(std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<uint8_t>(text[i]);
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;  // CR LF: one Enter
    if (c == '\r' || c == '\n' || c == '\t' || (c >= 0x20 && c < 0x7F)) {
      Chars.push_back(c == '\n' ? '\r' : c);
    } else if (!IsContinuation(c)) {
      ++Skipped;  // a control character, or the first byte of one beyond ASCII
    }
  }
}

size_t TKeyPaster::Feed(TKeyboard& keyboard) {
  size_t typed = 0;
  while (!Chars.empty() && keyboard.QueueCount() + 1 + kRoomForTyping < kKeyQueueSize) {
    uint8_t c = Chars.front();
    Chars.pop_front();
    // With Caps Lock on, a typist presses the other case's key for a letter.
    if ((keyboard.ShiftFlags & kFlagCapsLock) != 0 && IsLetter(c)) c ^= 0x20;
    ApplyTerminalInput(keyboard, TypedKeysOf(c));
    ++typed;
  }
  return typed;
}

}  // namespace keyboard
