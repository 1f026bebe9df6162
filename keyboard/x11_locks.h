// Caps Lock and Num Lock as the X server's keyboard indicators show them.
// Kept apart from Qt: the Xlib headers' macros clash with Qt's names.
#pragma once

#include <optional>

namespace keyboard {

struct TLockIndicators {
  std::optional<bool> NumLock;
  std::optional<bool> CapsLock;
};

// `display` is an Xlib Display*; with no display (another window system, the
// offscreen platform) or a keymap without the indicator, the value is absent.
TLockIndicators ReadX11Locks(void* display);

}  // namespace keyboard
