// Service 0x16: the board's BIOS keyboard functions (read key, check key, get
// shift flags), answered from the key queue and the shift-state byte.
#pragma once

#include <cstdint>

#include "keyboard/keyboard.h"
#include "link/link.h"

namespace keyboard {

// The reply's Code byte on every keyboard answer.
inline constexpr uint8_t kKeyboardReplyCode = 10;

// Answers the current request with one reply.
void KeyboardService(wire::TLink& link, TKeyboard& kbd);

}  // namespace keyboard
