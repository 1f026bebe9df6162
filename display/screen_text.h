// The board's text page as UTF-8 text, for the clipboard and text files.
#pragma once

#include <string>

#include "display/screen.h"

namespace display {

// Rows 0-24 through the CP437 table, a line each ending in "\n"; blanks at the
// end of a row and empty rows at the end of the page are left out.
std::string ScreenText(const TScreen& screen);
// The same for the cells of columns left..right of rows top..bottom (inclusive,
// clipped to the page): a rectangle chosen with the mouse.
std::string ScreenText(const TScreen& screen, int left, int top, int right, int bottom);

}  // namespace display
