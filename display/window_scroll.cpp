// The BIOS window scrolls (video functions 0x06 and 0x07).
#include <algorithm>

#include "display/screen.h"

namespace display {

namespace {

constexpr uint8_t kSpace = 0x20;

enum class TDirection { Up, Down };  // content moves up (0x06) or down (0x07)

// Scrolls the window's part that lies on the screen. Rows beyond the screen
// are not part of the window: what would come in from there comes in blank.
void ScrollWindow(TScreen& screen, TDirection direction, int left, int top, int right, int bottom,
                  int lines, uint8_t attribute) {
  screen.Touch();
  const int colFirst = left;
  const int colLast = std::min(right, TScreen::kCols - 1);
  if (colFirst > colLast) return;  // left right of right, or wholly right of the screen
  const auto blankRow = [&](int row) {
    for (int c = colFirst; c <= colLast; ++c) screen.Cell(c, row) = {kSpace, attribute};
  };

  if (top > bottom) {
    // Nothing moves; the one fill row is blanked when it is on the screen.
    const int fillRow = direction == TDirection::Up ? bottom : top;
    if (fillRow < TScreen::kRows) blankRow(fillRow);
    return;
  }
  const int rowFirst = top;
  const int rowLast = std::min(bottom, TScreen::kRows - 1);
  if (rowFirst > rowLast) return;  // wholly below the screen

  // One row per pass: n passes equal one move by n rows, and more passes than
  // the window is high blank it all the same. 0 means 25.
  const int height = rowLast - rowFirst + 1;
  const int n = std::min(lines == 0 ? TScreen::kRows : lines, height);
  const auto copyRow = [&](int from, int to) {
    for (int c = colFirst; c <= colLast; ++c) screen.Cell(c, to) = screen.Cell(c, from);
  };
  if (direction == TDirection::Up) {
    for (int r = rowFirst; r <= rowLast - n; ++r) copyRow(r + n, r);
    for (int r = rowLast - n + 1; r <= rowLast; ++r) blankRow(r);
  } else {
    for (int r = rowLast; r >= rowFirst + n; --r) copyRow(r - n, r);
    for (int r = rowFirst; r < rowFirst + n; ++r) blankRow(r);
  }
}

}  // namespace

void TScreen::ScrollDownWindow(uint8_t left, uint8_t top, uint8_t right, uint8_t bottom,
                               uint8_t lines, uint8_t attribute) {
  ScrollWindow(*this, TDirection::Up, left, top, right, bottom, lines, attribute);
}

void TScreen::ScrollUpWindow(uint8_t left, uint8_t top, uint8_t right, uint8_t bottom,
                             uint8_t lines, uint8_t attribute) {
  ScrollWindow(*this, TDirection::Down, left, top, right, bottom, lines, attribute);
}

}  // namespace display
