// The screen as a PNG for the web console's /api/screen.png, drawn without a
// font engine (a console without a window has none) from the glyph bitmap
// that the build makes of the window's display font: the same cells, palette
// and cursor marker as the window's "Save screenshot...".
#pragma once

#include <QByteArray>
#include <vector>

#include "display/screen.h"

namespace app {

class TWebGlyphs {
 public:
  // Reads the bitmap compiled into the program; empty when it is missing or bad.
  static const TWebGlyphs& Builtin();
  explicit TWebGlyphs(const QByteArray& file);

  bool Valid() const { return Width > 0; }
  // The file as the page fetches it.
  const QByteArray& File() const { return File_; }
  bool Ink(int code, int x, int y) const;
  int Width = 0;
  int Height = 0;

 private:
  QByteArray File_;
};

// 80x25 cells at the glyphs' cell size, with the cursor marker (a white bar
// over the cell's two bottom pixel rows) when the cursor is on the page.
QByteArray ScreenPng(const display::TScreen& screen, const TWebGlyphs& glyphs);

}  // namespace app
