#include "display/screen_text.h"

#include <algorithm>

#include "display/cp437.h"

namespace display {

namespace {

// Codes whose glyph is empty: NUL, space and the no-break space.
bool IsBlank(uint8_t code) { return code == 0x00 || code == 0x20 || code == 0xFF; }

}  // namespace

std::string ScreenText(const TScreen& screen) {
  return ScreenText(screen, 0, 0, TScreen::kCols - 1, TScreen::kRows - 1);
}

std::string ScreenText(const TScreen& screen, int left, int top, int right, int bottom) {
  left = std::max(left, 0);
  top = std::max(top, 0);
  right = std::min(right, TScreen::kCols - 1);
  bottom = std::min(bottom, TScreen::kRows - 1);
  std::string text;
  size_t kept = 0;  // length of the text up to its last row with anything on it
  for (int row = top; row <= bottom; ++row) {
    int end = right + 1;
    while (end > left && IsBlank(screen.Cell(end - 1, row).Char)) --end;
    for (int col = left; col < end; ++col) AppendUtf8(text, Cp437ToUnicode(screen.Cell(col, row).Char));
    text += '\n';
    if (end > left) kept = text.size();
  }
  text.resize(kept);
  return text;
}

}  // namespace display
