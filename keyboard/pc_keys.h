// The PC keyboard on a US layout, without any window system: the virtual key of
// each main-block scan code and the key (and Shift) that types each printable
// ASCII character. The window's key adapter and the terminal's key decoder
// share these tables.
#pragma once

#include <cstdint>

namespace keyboard {

// Highest set-1 scan code of the main block and keypad (F12).
inline constexpr uint8_t kLastMainBlockScan = 0x58;

// Windows-style virtual key of a main-block scan code on a US layout; 0 for
// codes without a key. The keypad rows (0x47-0x53) hold the cursor-key meaning,
// which the gray cursor keys sharing those scan codes have too.
uint8_t MainBlockVirtualKey(uint8_t scan);

// The key of the main block that types a printable character (0x20-0x7E) on a
// US layout, and whether Shift is needed. Scan 0 for any other byte.
struct TUsKey {
  uint8_t Scan = 0;
  bool Shift = false;
};
TUsKey UsLayoutKeyOf(uint8_t character);

}  // namespace keyboard
