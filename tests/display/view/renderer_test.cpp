#include <gtest/gtest.h>

#include "tests/support/param_names.h"

#include <QGuiApplication>

#include "display/renderer.h"
#include "display/text_palette.h"

namespace {

class RendererTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "renderer_test";
    static char* argv[] = {name, nullptr};
    if (QGuiApplication::instance() == nullptr) App = new QGuiApplication(argc, argv);
  }

  QRgb Pixel(int col, int row, int x, int y) const {
    return R.ScreenBitmap.pixel(col * R.CellWidth + x, row * R.CellHeight + y) & 0xFFFFFF;
  }
  bool CellAll(int col, int row, QRgb colour) const {
    for (int y = 0; y < R.CellHeight; ++y)
      for (int x = 0; x < R.CellWidth; ++x)
        if (Pixel(col, row, x, y) != colour) return false;
    return true;
  }
  bool Ink(int col, int row, int x, int y, QRgb fg) const { return Pixel(col, row, x, y) == fg; }

  static QGuiApplication* App;
  display::TScreen Screen;
  display::TScreenRenderer R{display::MakeDisplayFont()};
};
QGuiApplication* RendererTest::App = nullptr;

TEST_F(RendererTest, CellOfTheDisplayFontIsTenByNineteen) {
  EXPECT_EQ(R.CellWidth, 10);
  EXPECT_EQ(R.CellHeight, 19);
  EXPECT_EQ(R.ScreenBitmap.width(), 800);
  EXPECT_EQ(R.ScreenBitmap.height(), 475);
}

TEST_F(RendererTest, FirstPassDrawsEveryCellThenOnlyChangedOnes) {
  EXPECT_EQ(R.DrawChanged(Screen), 2000);
  EXPECT_EQ(R.DrawChanged(Screen), 0);
  Screen.Cell(4, 4).Char = 'x';
  Screen.Cell(79, 24).Attr = 0x1F;
  EXPECT_EQ(R.DrawChanged(Screen), 2);
  R.InvalidateAll();
  EXPECT_EQ(R.DrawChanged(Screen), 2000);
}

TEST_F(RendererTest, AfterRowRunsOncePerRow) {
  int rows = 0;
  R.DrawChanged(Screen, [&] { ++rows; });
  EXPECT_EQ(rows, 25);
}

TEST_F(RendererTest, SpareRowsAreNeverDrawn) {
  R.DrawChanged(Screen);
  Screen.VideoBuffer[2000] = {'Z', 0x4E};
  EXPECT_EQ(R.DrawChanged(Screen), 0);
}

struct TColourCase {
  uint8_t Attr;
  uint32_t Background;
  uint32_t Foreground;
};

class RendererColourTest : public RendererTest, public ::testing::WithParamInterface<TColourCase> {};

TEST_P(RendererColourTest, BlankCellShowsTheBackgroundAndFullBlockTheForeground) {
  const auto c = GetParam();
  Screen.Cell(0, 0) = {' ', c.Attr};
  Screen.Cell(1, 0) = {0xDB, c.Attr};
  R.DrawChanged(Screen);
  EXPECT_TRUE(CellAll(0, 0, c.Background));
  EXPECT_TRUE(CellAll(1, 0, c.Foreground));
}

INSTANTIATE_TEST_SUITE_P(
    Palette, RendererColourTest,
    ::testing::Values(TColourCase{0x1F, 0x00007F, 0xFFFFFF},  // white on blue
                      TColourCase{0x8F, 0x7F7F7F, 0xFFFFFF},  // bit 7 is background: dark grey
                      TColourCase{0x07, 0x000000, 0xBFBFBF},  // light grey is 0xBF
                      TColourCase{0x6E, 0x7F7F00, 0xFFFF00},  // brown, yellow
                      TColourCase{0x4A, 0x7F0000, 0x00FF00},
                      TColourCase{0xF0, 0xFFFFFF, 0x000000}), testsupport::TIndexName());

TEST_F(RendererTest, BoxDrawingLinesReachTheCellEdgesSoNeighboursJoin) {
  const QRgb white = 0xFFFFFF;
  Screen.Cell(0, 1) = {0xC4, 0x0F};  // ─
  Screen.Cell(1, 1) = {0xC4, 0x0F};
  Screen.Cell(2, 1) = {0xB3, 0x0F};  // │
  Screen.Cell(2, 2) = {0xB3, 0x0F};
  Screen.Cell(3, 1) = {0xCD, 0x0F};  // ═
  R.DrawChanged(Screen);
  bool horizontal = false;
  for (int y = 0; y < R.CellHeight; ++y) {
    horizontal = horizontal || (Ink(0, 1, 0, y, white) && Ink(0, 1, R.CellWidth - 1, y, white) &&
                                Ink(1, 1, 0, y, white));
  }
  EXPECT_TRUE(horizontal);
  bool vertical = false;
  for (int x = 0; x < R.CellWidth; ++x) {
    vertical = vertical || (Ink(2, 1, x, 0, white) && Ink(2, 1, x, R.CellHeight - 1, white) &&
                            Ink(2, 2, x, 0, white));
  }
  EXPECT_TRUE(vertical);
  bool doubleLeft = false;
  for (int y = 0; y < R.CellHeight; ++y) doubleLeft = doubleLeft || Ink(3, 1, 0, y, white);
  EXPECT_TRUE(doubleLeft);
}

TEST_F(RendererTest, EveryGlyphButBlanksHasInk) {
  for (int code = 1; code < 256; ++code) {
    if (code == 0x20 || code == 0xFF) continue;
    Screen.Cell(code % 80, code / 80) = {static_cast<uint8_t>(code), 0x0F};
  }
  R.DrawChanged(Screen);
  for (int code = 1; code < 256; ++code) {
    if (code == 0x20 || code == 0xFF) continue;
    EXPECT_FALSE(CellAll(code % 80, code / 80, 0x000000)) << "code " << code;
  }
}

TEST_F(RendererTest, CodeZeroIsABlankInTheBackgroundColour) {
  Screen.Cell(0, 0) = {0xDB, 0x0F};
  R.DrawChanged(Screen);
  Screen.Cell(0, 0) = {0x00, 0x20};
  R.DrawChanged(Screen);
  EXPECT_TRUE(CellAll(0, 0, 0x007F00));
}

}  // namespace
