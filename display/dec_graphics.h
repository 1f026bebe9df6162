// The board's characters for a terminal that takes no UTF-8 (its locale is
// not UTF-8): the box-drawing and block characters through the DEC special
// graphics set (the VT100's line-drawing set, which xterm, the Linux console
// and their kin all have), the other characters beyond ASCII as ASCII stand-ins.
#pragma once

#include <cstdint>

namespace display {

// Marks a character of the DEC special graphics set; the low byte selects it
// there (0x5F-0x7E: 'q' a horizontal line, 'x' a vertical one, ...).
inline constexpr char32_t kDecGraphicsFlag = 0x80000000;

// What such a terminal shows for CP437 `code`: an ASCII character, or
// kDecGraphicsFlag with the byte of the DEC special graphics set.
char32_t Cp437ToDec(uint8_t code);

}  // namespace display
