// Build step: the window's display font as a bitmap for the web console. It
// draws the 256 codes with the window's own renderer (so the page shows the
// same glyphs, and box-drawing and block characters join as they do in the
// window) and writes them as a small file:
//   byte 0: cell width (at most 16), byte 1: cell height,
//   then per code, per pixel row, two bytes (big-endian) whose bits from the
//   top bit down are the row's pixels, 1 where the glyph is ink.
#include <QGuiApplication>
#include <cstdio>

#include "display/renderer.h"
#include "display/screen.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: make-glyphs OUTPUT\n", stderr);
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication application(argc, argv);
  display::TScreenRenderer renderer(display::MakeDisplayFont());
  const int w = renderer.CellWidth;
  const int h = renderer.CellHeight;
  if (w > 16 || h > 255) {
    std::fprintf(stderr, "make-glyphs: a cell of %dx%d does not fit\n", w, h);
    return 1;
  }
  // Codes 0-255 in white on black across the first rows of the screen.
  display::TScreen screen;
  for (int code = 0; code < 256; ++code) screen.Cell(code % 80, code / 80) = {static_cast<uint8_t>(code), 0x0F};
  renderer.DrawChanged(screen);
  std::FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr) return 1;
  std::fputc(w, out);
  std::fputc(h, out);
  for (int code = 0; code < 256; ++code) {
    const int x0 = (code % 80) * w;
    const int y0 = (code / 80) * h;
    for (int y = 0; y < h; ++y) {
      unsigned bits = 0;
      for (int x = 0; x < w; ++x) {
        if ((renderer.ScreenBitmap.pixel(x0 + x, y0 + y) & 0xFFFFFF) != 0) bits |= 0x8000U >> x;
      }
      std::fputc(static_cast<int>(bits >> 8), out);
      std::fputc(static_cast<int>(bits & 0xFF), out);
    }
  }
  return std::fclose(out) == 0 ? 0 : 1;
}
