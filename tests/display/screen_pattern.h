// A screen filled with cells that all differ, so that any misplaced move shows.
#pragma once

#include <cstdint>

#include "display/screen.h"

namespace displaytest {

inline display::TScreenCell PatternCell(int col, int row) {
  return {static_cast<uint8_t>('!' + (col + row * 3) % 90),
          static_cast<uint8_t>((col * 7 + row * 13) & 0xFF)};
}

// Every one of the 4000 cells, spare rows included, gets its pattern cell.
inline void FillPattern(display::TScreen& s) {
  for (int r = 0; r < display::TScreen::kStorageRows; ++r)
    for (int c = 0; c < display::TScreen::kCols; ++c) s.Cell(c, r) = PatternCell(c, r);
}

}  // namespace displaytest
