#include "display/screen_text.h"

#include "display/cp437.h"

namespace display {

namespace {

// Codes whose glyph is empty: NUL, space and the no-break space.
bool IsBlank(uint8_t code) { return code == 0x00 || code == 0x20 || code == 0xFF; }

}  // namespace

std::string ScreenText(const TScreen& screen) {
  std::string text;
  size_t kept = 0;  // length of the text up to its last row with anything on it
  for (int row = 0; row < TScreen::kRows; ++row) {
    int end = TScreen::kCols;
    while (end > 0 && IsBlank(screen.Cell(end - 1, row).Char)) --end;
    for (int col = 0; col < end; ++col) AppendUtf8(text, Cp437ToUnicode(screen.Cell(col, row).Char));
    text += '\n';
    if (end > 0) kept = text.size();
  }
  text.resize(kept);
  return text;
}

}  // namespace display
