// The board's character set: every code 0-255 is a glyph of the PC's code page 437,
// the control codes' symbols included.
#pragma once

#include <cstdint>
#include <string>

namespace display {

// Unicode code point that shows the CP437 glyph of `code` (code 0 shows as a blank).
char32_t Cp437ToUnicode(uint8_t code);

// Appends the UTF-8 bytes of code point `cp`.
void AppendUtf8(std::string& out, char32_t cp);

}  // namespace display
