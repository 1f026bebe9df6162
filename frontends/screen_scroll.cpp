#include "frontends/screen_scroll.h"

#include <algorithm>

namespace app {

namespace {

constexpr int kCols = display::TScreen::kCols;
constexpr int kRows = display::TScreen::kRows;

bool SameRow(const display::TScreenCell* a, int rowA, const display::TScreenCell* b, int rowB) {
  return std::equal(a + rowA * kCols, a + (rowA + 1) * kCols, b + rowB * kCols);
}

}  // namespace

int ScrolledRows(const display::TScreenCell* before, const display::TScreenCell* now) {
  int inPlace = 0;
  for (int r = 0; r < kRows; ++r) inPlace += SameRow(now, r, before, r) ? 1 : 0;
  int best = 0;
  int bestSame = inPlace;  // a move must save a row at least
  for (int n = 1; n < kRows; ++n) {
    if (kRows - n <= bestSame) break;  // fewer rows left than the best has already
    int same = 0;
    for (int r = 0; r + n < kRows; ++r) same += SameRow(now, r, before, r + n) ? 1 : 0;
    if (same > bestSame) {
      best = n;
      bestSame = same;
    }
  }
  return best;
}

void ScrollCells(display::TScreenCell* cells, int rows) {
  rows = std::clamp(rows, 0, kRows);
  std::copy(cells + rows * kCols, cells + kRows * kCols, cells);
  std::fill(cells + (kRows - rows) * kCols, cells + kRows * kCols, display::TScreenCell{0x20, 0x07});
}

}  // namespace app
