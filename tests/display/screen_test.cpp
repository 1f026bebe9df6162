#include "display/screen.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/support/param_names.h"

#include "tests/display/screen_pattern.h"

namespace {

using display::TScreen;
using display::TScreenCell;
using displaytest::FillPattern;
using displaytest::PatternCell;

constexpr TScreenCell kBlank{0x20, 0x0F};

TEST(ScreenModel, StartsBlankInWhiteOnBlackWithZeroSpareRows) {
  TScreen s;
  for (int r = 0; r < TScreen::kRows; ++r)
    for (int c = 0; c < TScreen::kCols; ++c) ASSERT_EQ(s.Cell(c, r), kBlank) << c << "," << r;
  for (int r = TScreen::kRows; r < TScreen::kStorageRows; ++r)
    for (int c = 0; c < TScreen::kCols; ++c) ASSERT_EQ(s.Cell(c, r), (TScreenCell{0, 0}));
  EXPECT_EQ(s.CurrentAttr, 0x0F);
  EXPECT_EQ(s.CursorCol, 0);
  EXPECT_EQ(s.CursorRow, 0);
  EXPECT_EQ(s.VideoMode, 3);
}

TEST(ScreenModel, ClearScreenResetsCursorMarkerAttrAndKeepsSpareRows) {
  TScreen s;
  FillPattern(s);
  s.CursorCol = 40;
  s.CursorRow = 30;
  s.MarkerCol = 5;
  s.MarkerRow = 6;
  s.MarkerOn = 1;
  s.CurrentAttr = 0x4E;
  s.ScreenDirty = 0;
  s.ClearScreen();
  EXPECT_EQ(s.Cell(0, 0), kBlank);
  EXPECT_EQ(s.Cell(79, 24), kBlank);
  EXPECT_EQ(s.Cell(0, 25), PatternCell(0, 25));
  EXPECT_EQ(s.Cell(79, 49), PatternCell(79, 49));
  EXPECT_EQ(s.CurrentAttr, 0x0F);
  EXPECT_EQ(s.CursorCol, 0);
  EXPECT_EQ(s.CursorRow, 0);
  EXPECT_EQ(s.MarkerCol, 0);
  EXPECT_EQ(s.MarkerRow, 0);
  EXPECT_EQ(s.MarkerOn, 0);
  EXPECT_EQ(s.ScreenDirty, 1);
}

TEST(ScreenModel, ScrollDownKeepsOldBottomAttributesColumnByColumn) {
  TScreen s;
  FillPattern(s);
  s.ScreenDirty = 0;
  s.ScrollDown();
  for (int r = 0; r < 24; ++r)
    for (int c = 0; c < 80; ++c) ASSERT_EQ(s.Cell(c, r), PatternCell(c, r + 1));
  for (int c = 0; c < 80; ++c) ASSERT_EQ(s.Cell(c, 24), (TScreenCell{0x20, PatternCell(c, 24).Attr}));
  EXPECT_EQ(s.Cell(0, 25), PatternCell(0, 25));  // spare row untouched
  EXPECT_EQ(s.ScreenDirty, 1);
}

// --- Putch ---

TEST(ScreenModel, PutchWritesCurrentAttrAndWrapsToNextRow) {
  TScreen s;
  s.CurrentAttr = 0x1E;
  s.CursorCol = 79;
  s.CursorRow = 3;
  s.ScreenDirty = 0;
  s.Putch('x');
  EXPECT_EQ(s.Cell(79, 3), (TScreenCell{'x', 0x1E}));
  EXPECT_EQ(s.CursorCol, 0);
  EXPECT_EQ(s.CursorRow, 4);
  EXPECT_EQ(s.ScreenDirty, 1);
}

TEST(ScreenModel, PutchOnLastCellStaysOnRow24WithoutScroll) {
  TScreen s;
  FillPattern(s);
  s.CurrentAttr = 0x2A;
  s.CursorCol = 79;
  s.CursorRow = 24;
  s.Putch('a');
  s.Putch('b');
  EXPECT_EQ(s.Cell(79, 24), (TScreenCell{'a', 0x2A}));
  EXPECT_EQ(s.Cell(0, 24), (TScreenCell{'b', 0x2A}));
  EXPECT_EQ(s.Cell(0, 23), PatternCell(0, 23));  // nothing scrolled
  EXPECT_EQ(s.CursorCol, 1);
  EXPECT_EQ(s.CursorRow, 24);
}

// --- StrOut ---

TEST(ScreenModel, StrOutWritesFromPositionAndSetsAttr) {
  TScreen s;
  s.StrOut(0x3C, 10, 2, "Hi\a\b\t!");
  const char* expected = "Hi\a\b\t!";  // bell, backspace and tab are written as glyphs
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(s.Cell(10 + i, 2), (TScreenCell{static_cast<uint8_t>(expected[i]), 0x3C}));
  EXPECT_EQ(s.Cell(16, 2), kBlank);
  EXPECT_EQ(s.CursorCol, 16);
  EXPECT_EQ(s.CursorRow, 2);
  EXPECT_EQ(s.CurrentAttr, 0x3C);
}

TEST(ScreenModel, StrOutCrLfOnRow24ScrollsOnce) {
  TScreen s;
  FillPattern(s);
  s.StrOut(0x0F, 30, 24, "\r\n");
  EXPECT_EQ(s.CursorCol, 0);
  EXPECT_EQ(s.CursorRow, 24);
  EXPECT_EQ(s.Cell(5, 23), PatternCell(5, 24));  // one scroll, not two
  EXPECT_EQ(s.Cell(5, 22), PatternCell(5, 23));
  EXPECT_EQ(s.Cell(5, 24), (TScreenCell{0x20, PatternCell(5, 24).Attr}));
}

TEST(ScreenModel, StrOutLineFeedKeepsColumnAndWrapScrollsAtBottom) {
  TScreen s;
  s.StrOut(0x0F, 7, 0, "a\nb");
  EXPECT_EQ(s.Cell(7, 0).Char, 'a');
  EXPECT_EQ(s.Cell(8, 1).Char, 'b');
  s.StrOut(0x05, 79, 24, "yz");
  EXPECT_EQ(s.Cell(79, 23), (TScreenCell{'y', 0x05}));  // scrolled up by the wrap
  EXPECT_EQ(s.Cell(0, 24), (TScreenCell{'z', 0x05}));
  EXPECT_EQ(s.CursorCol, 1);
  EXPECT_EQ(s.CursorRow, 24);
}

TEST(ScreenModel, StrOutEmptyTextMovesCursorOnly) {
  TScreen s;
  s.ScreenDirty = 0;
  s.StrOut(0x70, 12, 30, "");
  EXPECT_EQ(s.CursorCol, 12);
  EXPECT_EQ(s.CursorRow, 30);
  EXPECT_EQ(s.CurrentAttr, 0x70);
  EXPECT_EQ(s.Cell(12, 24), kBlank);
}

TEST(ScreenModel, StrOutNegativePositionStartsAtOrigin) {
  TScreen s;
  s.StrOut(0x0F, -5, -3, "Q");
  EXPECT_EQ(s.Cell(0, 0).Char, 'Q');
  EXPECT_EQ(s.CursorCol, 1);
  EXPECT_EQ(s.CursorRow, 0);
}

// --- TelePutch ---

struct TCursorCase {
  uint8_t Code;
  int FromCol;
  int ToCol;
};

class TeletypeCursor : public ::testing::TestWithParam<TCursorCase> {};

TEST_P(TeletypeCursor, MovesTheCursorWithoutWriting) {
  const TCursorCase& tc = GetParam();
  TScreen s;
  FillPattern(s);
  s.CursorCol = tc.FromCol;
  s.CursorRow = 7;
  s.ScreenDirty = 0;
  s.TelePutch(tc.Code);
  EXPECT_EQ(s.CursorCol, tc.ToCol);
  EXPECT_EQ(s.CursorRow, 7);
  EXPECT_EQ(s.ScreenDirty, 0);  // control codes do not mark the screen
  for (int c = 0; c < 80; ++c) ASSERT_EQ(s.Cell(c, 7), PatternCell(c, 7));
}

INSTANTIATE_TEST_SUITE_P(
    ControlCodes, TeletypeCursor,
    ::testing::Values(TCursorCase{9, 0, 8}, TCursorCase{9, 8, 16}, TCursorCase{9, 13, 16},
                      TCursorCase{9, 72, 80}, TCursorCase{9, 79, 80},
                      TCursorCase{9, 80, 80},    // already past the last column
                      TCursorCase{9, 200, 200},  // set there by the board
                      TCursorCase{8, 0, 0}, TCursorCase{8, 5, 4}, TCursorCase{8, 80, 79},
                      TCursorCase{7, 33, 33}, TCursorCase{13, 50, 0}), testsupport::TIndexName());

TEST(ScreenModel, TeletypeKeepsTheCellsAttribute) {
  TScreen s;
  s.Cell(4, 2) = {'o', 0x4E};
  s.CurrentAttr = 0x07;
  s.CursorCol = 4;
  s.CursorRow = 2;
  s.ScreenDirty = 0;
  s.TelePutch('N');
  EXPECT_EQ(s.Cell(4, 2), (TScreenCell{'N', 0x4E}));
  EXPECT_EQ(s.CursorCol, 5);
  EXPECT_EQ(s.ScreenDirty, 1);
}

TEST(ScreenModel, TeletypePrintsVerticalTabAndFormFeedAsGlyphs) {
  TScreen s;
  s.TelePutch(0x0B);
  s.TelePutch(0x0C);
  s.TelePutch(0x00);
  EXPECT_EQ(s.Cell(0, 0).Char, 0x0B);
  EXPECT_EQ(s.Cell(1, 0).Char, 0x0C);
  EXPECT_EQ(s.Cell(2, 0).Char, 0x00);
  EXPECT_EQ(s.CursorCol, 3);
  EXPECT_EQ(s.CursorRow, 0);
}

TEST(ScreenModel, TeletypeLineFeedOnRow24ScrollsAndKeepsColumn) {
  TScreen s;
  FillPattern(s);
  s.CursorCol = 33;
  s.CursorRow = 24;
  s.TelePutch('\n');
  EXPECT_EQ(s.CursorCol, 33);
  EXPECT_EQ(s.CursorRow, 24);
  EXPECT_EQ(s.Cell(0, 0), PatternCell(0, 1));
  EXPECT_EQ(s.Cell(9, 24), (TScreenCell{0x20, PatternCell(9, 24).Attr}));
}

TEST(ScreenModel, TeletypeWrapOnRow24Scrolls) {
  TScreen s;
  FillPattern(s);
  s.CursorCol = 79;
  s.CursorRow = 24;
  s.TelePutch('w');
  EXPECT_EQ(s.Cell(79, 23), (TScreenCell{'w', PatternCell(79, 24).Attr}));
  EXPECT_EQ(s.CursorCol, 0);
  EXPECT_EQ(s.CursorRow, 24);
}

// --- Cursor off the screen ---

TEST(ScreenModel, CharacterAfterTabToColumn80GoesToNextRow) {
  TScreen s;
  s.CursorCol = 75;
  s.CursorRow = 3;
  s.TelePutch('\t');
  ASSERT_EQ(s.CursorCol, 80);
  s.TelePutch('k');
  EXPECT_EQ(s.Cell(0, 4).Char, 'k');
  EXPECT_EQ(s.CursorCol, 1);
  EXPECT_EQ(s.CursorRow, 4);
}

TEST(ScreenModel, CharacterAfterTabToColumn80OnRow24Scrolls) {
  TScreen s;
  FillPattern(s);
  s.CursorCol = 80;
  s.CursorRow = 24;
  s.TelePutch('k');
  EXPECT_EQ(s.Cell(0, 24).Char, 'k');
  EXPECT_EQ(s.Cell(0, 23), PatternCell(0, 24));
  EXPECT_EQ(s.CursorRow, 24);
}

TEST(ScreenModel, PutchAtColumnBeyondTheRowWrapsWithoutScroll) {
  TScreen s;
  FillPattern(s);
  s.CurrentAttr = 0x11;
  s.CursorCol = 255;
  s.CursorRow = 24;
  s.Putch('p');
  EXPECT_EQ(s.Cell(0, 24), (TScreenCell{'p', 0x11}));
  EXPECT_EQ(s.Cell(0, 23), PatternCell(0, 23));
  EXPECT_EQ(s.CursorCol, 1);
  EXPECT_EQ(s.CursorRow, 24);
}

struct TBelowCase {
  const char* Name;
  void (*Write)(TScreen&);
};

class WriteBelowScreen : public ::testing::TestWithParam<TBelowCase> {};

// Row 25 or more (the board's way of hiding the cursor): the character lands on
// row 24 in the same column, and the spare rows stay as they were.
TEST_P(WriteBelowScreen, LandsOnTheBottomRow) {
  for (int row : {25, 49, 50, 255}) {
    TScreen s;
    FillPattern(s);
    s.CurrentAttr = 0x2F;
    s.CursorCol = 6;
    s.CursorRow = row;
    GetParam().Write(s);
    EXPECT_EQ(s.Cell(6, 24).Char, 'R') << row;
    EXPECT_EQ(s.Cell(6, 23), PatternCell(6, 23)) << row;  // no scroll
    EXPECT_EQ(s.CursorCol, 7);
    EXPECT_EQ(s.CursorRow, 24);
    for (int r = 25; r < 50; ++r)
      for (int c = 0; c < 80; ++c) ASSERT_EQ(s.Cell(c, r), PatternCell(c, r)) << row;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Writers, WriteBelowScreen,
    ::testing::Values(TBelowCase{"Putch", [](TScreen& s) { s.Putch('R'); }},
                      TBelowCase{"TelePutch", [](TScreen& s) { s.TelePutch('R'); }},
                      TBelowCase{"StrOut",
                                 [](TScreen& s) {
                                   s.StrOut(s.CurrentAttr, s.CursorCol, s.CursorRow, "R");
                                 }}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(ScreenModel, LineFeedBelowScreenScrollsOnceToRow24) {
  TScreen s;
  FillPattern(s);
  s.CursorCol = 2;
  s.CursorRow = 200;
  s.TelePutch('\n');
  EXPECT_EQ(s.CursorRow, 24);
  EXPECT_EQ(s.Cell(0, 23), PatternCell(0, 24));
  EXPECT_EQ(s.Cell(0, 25), PatternCell(0, 25));
}

TEST(ScreenModel, FarOffCursorWritesOnlyOnScreen) {
  TScreen s;
  FillPattern(s);
  s.CursorCol = 255;
  s.CursorRow = 255;
  s.TelePutch('Z');
  EXPECT_EQ(s.Cell(0, 24).Char, 'Z');
  EXPECT_EQ(s.CursorCol, 1);
  EXPECT_EQ(s.CursorRow, 24);
  for (int r = 25; r < 50; ++r)
    for (int c = 0; c < 80; ++c) ASSERT_EQ(s.Cell(c, r), PatternCell(c, r));
}

// Watchers of the model (a client's wait) look at Changes: every operation
// that writes a cell or moves the cursor bumps it; the bell moves nothing.
TEST(ScreenModel, ChangesCountsEveryWriteAndCursorMove) {
  struct TCase {
    const char* Name;
    std::function<void(TScreen&)> Op;
    bool Changes;
  };
  const TCase cases[] = {
      {"ClearScreen", [](TScreen& s) { s.ClearScreen(); }, true},
      {"StrOut", [](TScreen& s) { s.StrOut(0x07, 1, 1, "ab"); }, true},
      {"Putch", [](TScreen& s) { s.Putch('x'); }, true},
      {"TelePutch char", [](TScreen& s) { s.TelePutch('x'); }, true},
      {"TelePutch CR", [](TScreen& s) { s.TelePutch('\r'); }, true},
      {"TelePutch BS", [](TScreen& s) { s.TelePutch('\b'); }, true},
      {"TelePutch tab", [](TScreen& s) { s.TelePutch('\t'); }, true},
      {"TelePutch bell", [](TScreen& s) { s.TelePutch('\a'); }, false},
      {"ScrollDownWindow", [](TScreen& s) { s.ScrollDownWindow(0, 0, 79, 24, 1, 0x07); }, true},
      {"ScrollUpWindow", [](TScreen& s) { s.ScrollUpWindow(0, 0, 79, 24, 1, 0x07); }, true},
  };
  for (const auto& c : cases) {
    TScreen s;
    s.CursorCol = 5;
    s.CursorRow = 3;
    const uint64_t before = s.Changes;
    c.Op(s);
    EXPECT_EQ(s.Changes != before, c.Changes) << c.Name;
  }
  // A line feed on the last row scrolls: more than one change, never none.
  TScreen s;
  s.CursorRow = 24;
  const uint64_t before = s.Changes;
  s.TelePutch('\n');
  EXPECT_GE(s.Changes - before, 1u);
}

}  // namespace
