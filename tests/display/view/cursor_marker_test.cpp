#include <gtest/gtest.h>

#include "display/cursor_marker.h"

namespace {

constexpr int kCellW = 10;
constexpr int kCellH = 19;
constexpr int kPanel = 41;

class CursorMarkerTest : public ::testing::Test {
 protected:
  void Steps(int n) {
    for (int i = 0; i < n; ++i) Marker.Step(Screen);
  }
  display::TScreen Screen;
  display::TCursorMarker Marker{kCellW, kCellH, kPanel};
};

TEST_F(CursorMarkerTest, NaturalSizeFollowsTheCell) {
  EXPECT_EQ(Marker.NaturalWidth(), 800);
  EXPECT_EQ(Marker.NaturalHeight(), 25 * 19 + 41);
  EXPECT_FALSE(Marker.Stretched());
  EXPECT_EQ(Marker.View.Width, kCellW);
  EXPECT_EQ(Marker.View.Height, 2);
}

TEST_F(CursorMarkerTest, OnlyEverySixthIdleRefreshDoesAnything) {
  Screen.CursorCol = 7;
  Screen.CursorRow = 3;
  Steps(5);
  EXPECT_EQ(Screen.MarkerCol, 0);
  Steps(1);
  EXPECT_EQ(Screen.MarkerCol, 7);
  EXPECT_EQ(Screen.MarkerRow, 3);
  EXPECT_EQ(Marker.BlinkCount, 6);
}

TEST_F(CursorMarkerTest, PlacedUnderTheCursorCellAtNaturalSize) {
  Screen.CursorCol = 7;
  Screen.CursorRow = 3;
  Steps(6);
  EXPECT_EQ(Marker.View.Left, 70);
  EXPECT_EQ(Marker.View.Top, 4 * 19 + 41 - 2);
}

TEST_F(CursorMarkerTest, BlinksWithAPeriodOfTwelveStepsWhileTheCursorStays) {
  Screen.CursorCol = 1;
  Steps(6);  // placed
  std::vector<bool> seen;
  for (int i = 0; i < 4; ++i) {
    Steps(6);
    seen.push_back(Marker.View.Visible);
  }
  EXPECT_EQ(seen, (std::vector<bool>{true, false, true, false}));
}

TEST_F(CursorMarkerTest, RowBeyondTheScreenHidesTheMarkerUntilTheCursorReturns) {
  Screen.CursorRow = 25;
  Steps(6);
  EXPECT_FALSE(Marker.View.Visible);
  Steps(12);  // blinking on row 25 stays hidden
  EXPECT_FALSE(Marker.View.Visible);
  Screen.CursorRow = 10;
  Screen.CursorCol = 2;
  Steps(6);
  EXPECT_EQ(Screen.MarkerRow, 10);
  EXPECT_EQ(Marker.View.Top, 11 * 19 + 41 - 2);
  bool shown = false;
  for (int blink = 0; blink < 2 && !shown; ++blink) {
    Steps(6);
    shown = Marker.View.Visible;
  }
  EXPECT_TRUE(shown);
}

TEST_F(CursorMarkerTest, StretchedPlacementScalesPositionAndWidthButNotHeight) {
  Marker.Resize(Screen, 1600, 2 * 475 + 41);
  EXPECT_TRUE(Marker.Stretched());
  EXPECT_EQ(Marker.View.Width, 20);
  EXPECT_EQ(Marker.View.Height, 2);
  EXPECT_EQ(Screen.MarkerCol, -1);  // placed afresh at the next step
  Screen.CursorCol = 5;
  Screen.CursorRow = 3;
  Steps(6);
  EXPECT_EQ(Marker.View.Left, 100);
  EXPECT_EQ(Marker.View.Top, (4 * 19 - 2) * 2 + 41);
}

TEST_F(CursorMarkerTest, StretchedCoordinatesAreTruncatedTowardZero) {
  Marker.Resize(Screen, 1000, 41 + 500);  // x-scale 1.25, y-scale 500/475
  EXPECT_EQ(Marker.View.Width, 12);      // 10 x 1.25 = 12.5
  Screen.CursorCol = 3;
  Screen.CursorRow = 0;
  Steps(6);
  EXPECT_EQ(Marker.View.Left, 37);  // 30 x 1.25 = 37.5
  EXPECT_EQ(Marker.View.Top, 58);   // 17 x 1.0526 + 41 = 58.89
}

TEST_F(CursorMarkerTest, BackToNaturalSizeEndsTheStretch) {
  Marker.Resize(Screen, 1000, 600);
  Marker.Resize(Screen, 800, 475 + 41);
  EXPECT_FALSE(Marker.Stretched());
  EXPECT_EQ(Marker.View.Width, 10);
}

TEST_F(CursorMarkerTest, ClearScreenResetsTheBookkeeping) {
  Screen.CursorCol = 9;
  Steps(6);
  Screen.ClearScreen();
  EXPECT_EQ(Screen.MarkerCol, 0);
  EXPECT_EQ(Screen.MarkerRow, 0);
  EXPECT_EQ(Screen.MarkerOn, 0);
}

// The scales are single precision, the products are not: 104 / 800 held as a
// float is just below 0.13, so column 10 (100 px) lands at 12, not at 13.
TEST_F(CursorMarkerTest, StretchedProductsAreTruncatedWithoutRoundingToSinglePrecision) {
  Marker.Resize(Screen, 104, 200);
  Screen.CursorCol = 10;
  Steps(6);
  EXPECT_EQ(Marker.View.Left, 12);

  for (int width : {104, 333, 799, 801, 1013, 1600, 2411}) {
    for (int height : {90, 517, 1000}) {
      Marker.Resize(Screen, width, height);
      const float xs = static_cast<float>(width) / 800.0f;
      const float ys = static_cast<float>(height - kPanel) / static_cast<float>(25 * kCellH);
      EXPECT_EQ(Marker.View.Width, static_cast<int>(static_cast<long double>(kCellW) * xs)) << width;
      for (int col : {0, 1, 10, 37, 79}) {
        for (int row : {0, 7, 24}) {
          Screen.CursorCol = col;
          Screen.CursorRow = row;
          Screen.MarkerCol = -1;
          Marker.BlinkCount = 1;
          Marker.Step(Screen);
          EXPECT_EQ(Marker.View.Left, static_cast<int>(static_cast<long double>(col * kCellW) * xs))
              << width << " col " << col;
          EXPECT_EQ(Marker.View.Top,
                    static_cast<int>(static_cast<long double>((row + 1) * kCellH - 2) * ys + kPanel))
              << height << " row " << row;
        }
      }
    }
  }
}

}  // namespace
