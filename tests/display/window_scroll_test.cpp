#include <gtest/gtest.h>

#include "tests/support/param_names.h"

#include "display/screen.h"
#include "tests/display/screen_pattern.h"

namespace {

using display::TScreen;
using display::TScreenCell;
using displaytest::FillPattern;
using displaytest::PatternCell;

constexpr uint8_t kFill = 0x5B;
constexpr TScreenCell kFillCell{0x20, kFill};

enum class TDir { Up06, Down07 };

void Scroll(TScreen& s, TDir dir, int left, int top, int right, int bottom, int lines) {
  const auto b = [](int v) { return static_cast<uint8_t>(v); };
  if (dir == TDir::Up06) {
    s.ScrollDownWindow(b(left), b(top), b(right), b(bottom), b(lines), kFill);
  } else {
    s.ScrollUpWindow(b(left), b(top), b(right), b(bottom), b(lines), kFill);
  }
}

bool Inside(int c, int r, int left, int top, int right, int bottom) {
  return c >= left && c <= right && r >= top && r <= bottom;
}

// Every cell of the storage outside the given window still holds its pattern.
void ExpectOutsideUnchanged(const TScreen& s, int left, int top, int right, int bottom) {
  for (int r = 0; r < TScreen::kStorageRows; ++r)
    for (int c = 0; c < TScreen::kCols; ++c) {
      if (Inside(c, r, left, top, right, bottom)) continue;
      ASSERT_EQ(s.Cell(c, r), PatternCell(c, r)) << "cell " << c << "," << r;
    }
}

TEST(WindowScroll, FullScreenUpByOneIsScrollDownWithFillAttribute) {
  TScreen viaWindow;
  TScreen viaScrollDown;
  FillPattern(viaWindow);
  FillPattern(viaScrollDown);
  viaWindow.ScreenDirty = 0;
  viaWindow.ScrollDownWindow(0, 0, 79, 24, 1, kFill);
  viaScrollDown.ScrollDown();
  for (int r = 0; r < 24; ++r)
    for (int c = 0; c < 80; ++c) ASSERT_EQ(viaWindow.Cell(c, r), viaScrollDown.Cell(c, r));
  for (int c = 0; c < 80; ++c) ASSERT_EQ(viaWindow.Cell(c, 24), kFillCell);
  EXPECT_EQ(viaWindow.ScreenDirty, 1);
}

TEST(WindowScroll, UpMovesWindowContentAndBlanksBottomRows) {
  TScreen s;
  FillPattern(s);
  Scroll(s, TDir::Up06, 10, 5, 20, 12, 2);
  for (int r = 5; r <= 10; ++r)
    for (int c = 10; c <= 20; ++c) ASSERT_EQ(s.Cell(c, r), PatternCell(c, r + 2)) << c << "," << r;
  for (int r = 11; r <= 12; ++r)
    for (int c = 10; c <= 20; ++c) ASSERT_EQ(s.Cell(c, r), kFillCell);
  ExpectOutsideUnchanged(s, 10, 5, 20, 12);
}

TEST(WindowScroll, DownMovesWindowContentAndBlanksTopRows) {
  TScreen s;
  FillPattern(s);
  Scroll(s, TDir::Down07, 10, 5, 20, 12, 3);
  for (int r = 5; r <= 7; ++r)
    for (int c = 10; c <= 20; ++c) ASSERT_EQ(s.Cell(c, r), kFillCell);
  for (int r = 8; r <= 12; ++r)
    for (int c = 10; c <= 20; ++c) ASSERT_EQ(s.Cell(c, r), PatternCell(c, r - 3)) << c << "," << r;
  ExpectOutsideUnchanged(s, 10, 5, 20, 12);
}

struct TBlankCase {
  TDir Dir;
  int Lines;
};

class WindowBlank : public ::testing::TestWithParam<TBlankCase> {};

// Zero lines means 25; as many lines as the window is high, or more, blank it.
TEST_P(WindowBlank, LeavesTheWindowBlankInTheFillAttribute) {
  TScreen s;
  FillPattern(s);
  Scroll(s, GetParam().Dir, 3, 4, 60, 9, GetParam().Lines);
  for (int r = 4; r <= 9; ++r)
    for (int c = 3; c <= 60; ++c) ASSERT_EQ(s.Cell(c, r), kFillCell) << c << "," << r;
  ExpectOutsideUnchanged(s, 3, 4, 60, 9);
}

INSTANTIATE_TEST_SUITE_P(Counts, WindowBlank,
                         ::testing::Values(TBlankCase{TDir::Up06, 0}, TBlankCase{TDir::Up06, 6},
                                           TBlankCase{TDir::Up06, 7}, TBlankCase{TDir::Up06, 255},
                                           TBlankCase{TDir::Down07, 0}, TBlankCase{TDir::Down07, 6},
                                           TBlankCase{TDir::Down07, 7},
                                           TBlankCase{TDir::Down07, 255}), testsupport::TIndexName());

TEST(WindowScroll, FiveLinesInSixRowWindowKeepOneRow) {
  TScreen s;
  FillPattern(s);
  Scroll(s, TDir::Up06, 3, 4, 60, 9, 5);
  EXPECT_EQ(s.Cell(3, 4), PatternCell(3, 9));
  EXPECT_EQ(s.Cell(3, 5), kFillCell);
  Scroll(s, TDir::Down07, 3, 4, 60, 9, 5);
  EXPECT_EQ(s.Cell(3, 9), PatternCell(3, 9));
  EXPECT_EQ(s.Cell(3, 4), kFillCell);
}

TEST(WindowScroll, InvertedRowsBlankOnlyTheFillRow) {
  // Up: the bottom row is the fill row.
  TScreen up;
  FillPattern(up);
  Scroll(up, TDir::Up06, 2, 10, 30, 6, 1);
  for (int c = 2; c <= 30; ++c) ASSERT_EQ(up.Cell(c, 6), kFillCell);
  ExpectOutsideUnchanged(up, 2, 6, 30, 6);
  // Down: the top row is the fill row.
  TScreen down;
  FillPattern(down);
  Scroll(down, TDir::Down07, 2, 10, 30, 6, 3);
  for (int c = 2; c <= 30; ++c) ASSERT_EQ(down.Cell(c, 10), kFillCell);
  ExpectOutsideUnchanged(down, 2, 10, 30, 10);
}

TEST(WindowScroll, InvertedColumnsChangeNothing) {
  for (TDir dir : {TDir::Up06, TDir::Down07}) {
    TScreen s;
    FillPattern(s);
    Scroll(s, dir, 40, 0, 39, 24, 1);
    ExpectOutsideUnchanged(s, -1, -1, -1, -1);
  }
}

// Windows reaching past the screen work on their on-screen part; what would
// come in from beyond the last row comes in blank. The spare rows never change.
TEST(WindowScroll, WindowPastTheScreenIsClippedToIt) {
  TScreen s;
  FillPattern(s);
  Scroll(s, TDir::Up06, 70, 20, 255, 255, 1);
  for (int r = 20; r <= 23; ++r)
    for (int c = 70; c <= 79; ++c) ASSERT_EQ(s.Cell(c, r), PatternCell(c, r + 1));
  for (int c = 70; c <= 79; ++c) ASSERT_EQ(s.Cell(c, 24), kFillCell);
  ExpectOutsideUnchanged(s, 70, 20, 79, 24);

  TScreen d;
  FillPattern(d);
  Scroll(d, TDir::Down07, 70, 20, 255, 255, 2);
  for (int r = 20; r <= 21; ++r)
    for (int c = 70; c <= 79; ++c) ASSERT_EQ(d.Cell(c, r), kFillCell);
  for (int r = 22; r <= 24; ++r)
    for (int c = 70; c <= 79; ++c) ASSERT_EQ(d.Cell(c, r), PatternCell(c, r - 2));
  ExpectOutsideUnchanged(d, 70, 20, 79, 24);
}

struct TOffCase {
  TDir Dir;
  int Left, Top, Right, Bottom;
};

class WindowOffScreen : public ::testing::TestWithParam<TOffCase> {};

TEST_P(WindowOffScreen, ChangesNothing) {
  const TOffCase& tc = GetParam();
  TScreen s;
  FillPattern(s);
  Scroll(s, tc.Dir, tc.Left, tc.Top, tc.Right, tc.Bottom, 0);
  ExpectOutsideUnchanged(s, -1, -1, -1, -1);
}

INSTANTIATE_TEST_SUITE_P(
    Windows, WindowOffScreen,
    ::testing::Values(TOffCase{TDir::Up06, 0, 25, 79, 49},     // the spare rows
                      TOffCase{TDir::Down07, 0, 30, 255, 255},  // below the screen
                      TOffCase{TDir::Up06, 80, 0, 255, 24},     // right of the screen
                      TOffCase{TDir::Up06, 0, 200, 79, 30},     // inverted, fill row 30
                      TOffCase{TDir::Down07, 0, 200, 79, 3},    // inverted, fill row 200
                      TOffCase{TDir::Down07, 255, 255, 255, 255}), testsupport::TIndexName());

TEST(WindowScroll, InvertedWindowClipsItsFillRow) {
  TScreen s;
  FillPattern(s);
  Scroll(s, TDir::Up06, 75, 200, 255, 24, 1);
  for (int c = 75; c <= 79; ++c) ASSERT_EQ(s.Cell(c, 24), kFillCell);
  ExpectOutsideUnchanged(s, 75, 24, 79, 24);
}

}  // namespace
