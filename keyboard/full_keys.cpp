#include "keyboard/full_keys.h"

#include <array>

#include "keyboard/keyboard.h"

namespace keyboard {

namespace {

enum class THeld : uint8_t { hAlt, hCtrl, hShift };

// A key is matched by its PC scan code, or (Scan 0) by its virtual key, so that
// the gray cursor keys and the keypad's twins with Num Lock off both count.
struct TFullKey {
  THeld Held;
  uint8_t Scan;
  uint8_t Vk;
  uint16_t Code;
};

constexpr TFullKey Alt(uint8_t scan, uint16_t code) { return {THeld::hAlt, scan, 0, code}; }
constexpr TFullKey AltLetter(uint8_t scan) { return Alt(scan, static_cast<uint16_t>(scan << 8)); }
constexpr TFullKey Ctrl(uint8_t vk, uint16_t code) { return {THeld::hCtrl, 0, vk, code}; }

constexpr std::array<TFullKey, 46> kFullKeys = {{
    // Alt+letter: the letter's scan code, character 0.
    AltLetter(0x10), AltLetter(0x11), AltLetter(0x12), AltLetter(0x13), AltLetter(0x14),
    AltLetter(0x15), AltLetter(0x16), AltLetter(0x17), AltLetter(0x18), AltLetter(0x19),
    AltLetter(0x1E), AltLetter(0x1F), AltLetter(0x20), AltLetter(0x21), AltLetter(0x22),
    AltLetter(0x23), AltLetter(0x24), AltLetter(0x25), AltLetter(0x26), AltLetter(0x2C),
    AltLetter(0x2D), AltLetter(0x2E), AltLetter(0x2F), AltLetter(0x30), AltLetter(0x31),
    AltLetter(0x32),
    // Alt+1 .. Alt+0, Alt+-, Alt+=.
    Alt(0x02, 0x7800), Alt(0x03, 0x7900), Alt(0x04, 0x7A00), Alt(0x05, 0x7B00), Alt(0x06, 0x7C00),
    Alt(0x07, 0x7D00), Alt(0x08, 0x7E00), Alt(0x09, 0x7F00), Alt(0x0A, 0x8000), Alt(0x0B, 0x8100),
    Alt(0x0C, 0x8200), Alt(0x0D, 0x8300),
    // Ctrl with Left, Right, Home, End, Page Up, Page Down and Print Screen.
    Ctrl(0x25, 0x7300), Ctrl(0x27, 0x7400), Ctrl(0x24, 0x7700), Ctrl(0x23, 0x7500),
    Ctrl(0x21, 0x8400), Ctrl(0x22, 0x7600), Ctrl(0x2C, 0x7200),
    // Shift+Tab.
    {THeld::hShift, 0x0F, 0, 0x0F00},
}};

}  // namespace

std::optional<uint16_t> FullBiosKeyCode(uint8_t scan, uint8_t virtualKey, uint8_t shiftFlags) {
  const bool ctrl = (shiftFlags & kFlagCtrl) != 0;
  const bool alt = (shiftFlags & kFlagAlt) != 0;
  const bool shift = (shiftFlags & (kFlagLeftShift | kFlagRightShift)) != 0;
  // Which of the held keys decides, as on a PC: Ctrl before Alt before Shift.
  THeld held = THeld::hShift;
  if (ctrl) {
    held = THeld::hCtrl;
  } else if (alt) {
    held = THeld::hAlt;
  } else if (!shift) {
    return std::nullopt;
  }
  for (const auto& key : kFullKeys) {
    if (key.Held != held) continue;
    if (key.Scan != 0 ? key.Scan == scan : key.Vk == virtualKey) return key.Code;
  }
  return std::nullopt;
}

}  // namespace keyboard
