// Draws the screen model into an off-screen image, cell by cell, from a glyph
// atlas built once; only cells that differ from what was drawn last are drawn.
#pragma once

#include <QFont>
#include <QImage>
#include <array>
#include <functional>
#include <vector>

#include "display/screen.h"

namespace display {

// The display face: DejaVu Sans Mono at 16 pixels without antialiasing gives a
// 10x19 cell with every CP437 glyph, and box-drawing characters that join.
QFont MakeDisplayFont();

class TScreenRenderer {
 public:
  explicit TScreenRenderer(const QFont& font);

  // Draws every cell of rows 0-24 that differs from ShadowBuffer; `afterRow`
  // runs after each row (the window processes pending messages there).
  // Returns the number of cells drawn.
  int DrawChanged(const TScreen& screen, const std::function<void()>& afterRow = {});
  // Forgets what was drawn, so that the next pass draws every cell.
  void InvalidateAll();
  // The screen image at 1:1 as it stands now, with the cursor marker under the
  // cursor's cell (when the cursor is on the page).
  QImage Screenshot(const TScreen& screen);

  int CellWidth = 0;
  int CellHeight = 0;
  QImage ScreenBitmap;
  std::array<TScreenCell, TScreen::kCells> ShadowBuffer{};

 private:
  void DrawCell(int col, int row, TScreenCell cell);

  // One mask per code: CellWidth x CellHeight bytes, 1 where the glyph is ink.
  std::vector<std::vector<uint8_t>> Glyphs;
};

}  // namespace display
