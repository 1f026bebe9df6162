// A key message as the keyboard core takes it: message number, Windows-style
// virtual key in wParam, PC/AT set-1 scan code in bits 16-23 of lParam. Both
// front-ends (the window's key adapter and the terminal's key decoder) build them.
#pragma once

#include <cstdint>

namespace keyboard {

struct TKeyMessage {
  uint32_t Message = 0;
  uint32_t WParam = 0;
  uint32_t LParam = 0;
  bool operator==(const TKeyMessage&) const = default;
};

// lParam bits besides the scan code.
inline constexpr uint32_t kLParamRepeatOne = 0x00000001;
inline constexpr uint32_t kLParamExtended = 0x01000000;
inline constexpr uint32_t kLParamPrevious = 0x40000000;  // key was down before
inline constexpr uint32_t kLParamRelease = 0x80000000;

}  // namespace keyboard
