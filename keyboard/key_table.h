// The scan-code table that turns a PC key into a BIOS key code: one row of
// eight bytes per PC/AT set-1 scan code.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace keyboard {

using TKeyRow = std::array<uint8_t, 8>;

inline constexpr size_t kKeyTableRows = 256;

// Column numbers of a row.
inline constexpr size_t kColBiosScan = 0;  // BIOS scan code; 0: the key produces nothing
inline constexpr size_t kColNormal = 1;    // character without modifiers
inline constexpr size_t kColAndMask = 2;   // clears this key's ShiftFlags bit (0xFF otherwise)
inline constexpr size_t kColStateBit = 3;  // ShiftFlags bit of a modifier or lock key
inline constexpr size_t kColShifted = 4;   // shifted character; Shift+key scan code on F1-F12
inline constexpr size_t kColKeypad = 5;    // non-zero on keypad keys that double as cursor keys
inline constexpr size_t kColCtrl = 6;      // scan code of Ctrl+key (function keys)
inline constexpr size_t kColAlt = 7;       // scan code of Alt+key (function keys)

// Indexed by the PC scan code (bits 16-23 of a key message's lParam).
extern const std::array<TKeyRow, kKeyTableRows> KeyTable;

}  // namespace keyboard
