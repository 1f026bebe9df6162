#include "display/renderer.h"

#include <QFontMetrics>
#include <QPainter>

#include "display/cp437.h"
#include "display/text_palette.h"

namespace display {

QFont MakeDisplayFont() {
  QFont font(QStringLiteral("DejaVu Sans Mono"));
  font.setStyleHint(QFont::Monospace, QFont::NoAntialias);
  font.setStyleStrategy(QFont::NoAntialias);
  font.setFixedPitch(true);
  font.setPixelSize(16);
  return font;
}

TScreenRenderer::TScreenRenderer(const QFont& font) {
  // The cell is the size of the text "O" in the display font.
  const QFontMetrics metrics(font);
  CellWidth = std::max(1, metrics.horizontalAdvance(QStringLiteral("O")));
  CellHeight = std::max(1, metrics.height());
  ScreenBitmap = QImage(80 * CellWidth, 25 * CellHeight, QImage::Format_RGB32);
  ScreenBitmap.fill(Qt::black);

  QImage scratch(CellWidth, CellHeight, QImage::Format_RGB32);
  Glyphs.resize(256);
  for (int code = 0; code < 256; ++code) {
    scratch.fill(Qt::black);
    {
      QPainter painter(&scratch);
      painter.setRenderHint(QPainter::TextAntialiasing, false);
      painter.setFont(font);
      painter.setPen(Qt::white);
      const char32_t cp = Cp437ToUnicode(static_cast<uint8_t>(code));
      painter.drawText(0, metrics.ascent(), QString::fromUcs4(&cp, 1));
    }
    auto& mask = Glyphs[static_cast<size_t>(code)];
    mask.resize(static_cast<size_t>(CellWidth * CellHeight));
    for (int y = 0; y < CellHeight; ++y) {
      const auto* line = reinterpret_cast<const QRgb*>(scratch.constScanLine(y));
      for (int x = 0; x < CellWidth; ++x) mask[static_cast<size_t>(y * CellWidth + x)] = qGreen(line[x]) > 127 ? 1 : 0;
    }
  }
}

void TScreenRenderer::InvalidateAll() { ShadowBuffer.fill(TScreenCell{0, 0}); }

int TScreenRenderer::DrawChanged(const TScreen& screen, const std::function<void()>& afterRow) {
  int drawn = 0;
  for (int row = 0; row < TScreen::kRows; ++row) {
    for (int col = 0; col < TScreen::kCols; ++col) {
      const size_t i = static_cast<size_t>(row * TScreen::kCols + col);
      const TScreenCell cell = screen.VideoBuffer[i];
      if (cell == ShadowBuffer[i]) continue;
      // Recorded before drawing, so a nested pass skips it.
      ShadowBuffer[i] = cell;
      DrawCell(col, row, cell);
      ++drawn;
    }
    if (afterRow) afterRow();
  }
  return drawn;
}

void TScreenRenderer::DrawCell(int col, int row, TScreenCell cell) {
  const QRgb fg = 0xFF000000u | ForegroundOf(cell.Attr);
  const QRgb bg = 0xFF000000u | BackgroundOf(cell.Attr);
  const auto& mask = Glyphs[cell.Char];
  for (int y = 0; y < CellHeight; ++y) {
    auto* line = reinterpret_cast<QRgb*>(ScreenBitmap.scanLine(row * CellHeight + y)) + col * CellWidth;
    const uint8_t* ink = mask.data() + y * CellWidth;
    for (int x = 0; x < CellWidth; ++x) line[x] = ink[x] != 0 ? fg : bg;
  }
}

QImage TScreenRenderer::Screenshot(const TScreen& screen) {
  DrawChanged(screen);
  QImage image = ScreenBitmap.copy();
  const int col = screen.CursorCol;
  const int row = screen.CursorRow;
  if (col >= 0 && col < TScreen::kCols && row >= 0 && row < TScreen::kRows) {
    // The marker: a white bar over the bottom two pixel rows of the cell.
    constexpr int kMarkerHeight = 2;
    for (int y = (row + 1) * CellHeight - kMarkerHeight; y < (row + 1) * CellHeight; ++y) {
      auto* line = reinterpret_cast<QRgb*>(image.scanLine(y)) + col * CellWidth;
      for (int x = 0; x < CellWidth; ++x) line[x] = qRgb(255, 255, 255);
    }
  }
  return image;
}

}  // namespace display
