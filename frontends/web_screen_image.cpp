#include "frontends/web_screen_image.h"

#include <QBuffer>
#include <QFile>
#include <QImage>

#include "display/text_palette.h"

namespace app {

const TWebGlyphs& TWebGlyphs::Builtin() {
  static const TWebGlyphs glyphs = [] {
    QFile f(QStringLiteral(":/web/glyphs.bin"));
    return TWebGlyphs(f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray());
  }();
  return glyphs;
}

TWebGlyphs::TWebGlyphs(const QByteArray& file) {
  if (file.size() < 2) return;
  const int w = static_cast<uint8_t>(file[0]);
  const int h = static_cast<uint8_t>(file[1]);
  if (w < 1 || w > 16 || h < 1 || file.size() != 2 + 256 * h * 2) return;
  Width = w;
  Height = h;
  File_ = file;
}

bool TWebGlyphs::Ink(int code, int x, int y) const {
  const qsizetype at = 2 + (static_cast<qsizetype>(code) * Height + y) * 2;
  const unsigned bits = (static_cast<unsigned>(static_cast<uint8_t>(File_[at])) << 8) |
                        static_cast<uint8_t>(File_[at + 1]);
  return (bits & (0x8000U >> x)) != 0;
}

QByteArray ScreenPng(const display::TScreen& screen, const TWebGlyphs& glyphs) {
  if (!glyphs.Valid()) return {};
  const int w = glyphs.Width;
  const int h = glyphs.Height;
  QImage image(display::TScreen::kCols * w, display::TScreen::kRows * h, QImage::Format_RGB32);
  for (int row = 0; row < display::TScreen::kRows; ++row) {
    for (int col = 0; col < display::TScreen::kCols; ++col) {
      const display::TScreenCell cell = screen.Cell(col, row);
      const QRgb fg = 0xFF000000U | display::ForegroundOf(cell.Attr);
      const QRgb bg = 0xFF000000U | display::BackgroundOf(cell.Attr);
      for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(row * h + y)) + col * w;
        for (int x = 0; x < w; ++x) line[x] = glyphs.Ink(cell.Char, x, y) ? fg : bg;
      }
    }
  }
  const int col = screen.CursorCol;
  const int row = screen.CursorRow;
  if (col >= 0 && col < display::TScreen::kCols && row >= 0 && row < display::TScreen::kRows) {
    for (int y = (row + 1) * h - 2; y < (row + 1) * h; ++y) {
      auto* line = reinterpret_cast<QRgb*>(image.scanLine(y)) + col * w;
      for (int x = 0; x < w; ++x) line[x] = qRgb(255, 255, 255);
    }
  }
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return png;
}

}  // namespace app
