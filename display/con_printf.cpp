// Formatted host messages printed into the screen at the cursor.
#include <cstdio>
#include <vector>

#include "display/screen.h"

namespace display {

int TScreen::ConPrintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = VConPrintf(format, args);
  va_end(args);
  return n;
}

void TScreen::Print(std::string_view text) {
  const int32_t row = CursorRow;
  StrOut(CurrentAttr, CursorCol, CursorRow, text.data());
  if (OnText) OnText(text, row, CursorRow);
}

int TScreen::VConPrintf(const char* format, va_list args) {
  va_list again;
  va_copy(again, args);
  char buf[kPrintfBuffer];
  const int n = std::vsnprintf(buf, sizeof buf, format, args);
  if (n < 0) {
    va_end(again);
    return n;  // a format the library cannot render prints nothing
  }
  if (static_cast<size_t>(n) < sizeof buf) {
    Print(std::string_view(buf, static_cast<size_t>(n)));
  } else {
    // Longer than the buffer (a long file path): formatted again in full so that
    // the whole text appears.
    std::vector<char> whole(static_cast<size_t>(n) + 1);
    std::vsnprintf(whole.data(), whole.size(), format, again);
    Print(std::string_view(whole.data(), static_cast<size_t>(n)));
  }
  va_end(again);
  return n;
}

}  // namespace display
