#include "display/video_service.h"

#include <gtest/gtest.h>

#include "tests/support/param_names.h"

#include "tests/display/screen_pattern.h"
#include "tests/support/core_fixture.h"

namespace {

using display::TScreen;
using display::TScreenCell;
using displaytest::FillPattern;
using displaytest::PatternCell;
using testsupport::Bytes;
using testsupport::RequestBytes;

constexpr uint8_t kVideo = 0x10;

// The board's video requests run through the real service loop against a
// scripted board; the screen starts from the pattern once the banner is out.
class VideoServiceTest : public ::testing::Test {
 protected:
  VideoServiceTest() {
    core.Board.Do([this] {
      FillPattern(core.Screen);
      core.Screen.CursorCol = 0;
      core.Screen.CursorRow = 0;
      core.Screen.CurrentAttr = 0x0F;
      core.Screen.ScreenDirty = 0;
      core.Board.TakeWritten();
    });
  }

  void Video(uint16_t ax, uint16_t bx = 0, uint16_t cx = 0, uint16_t dx = 0) {
    core.Board.Send(RequestBytes(kVideo, ax, bx, cx, dx));
    ++requests;
  }
  void SetCursor(int col, int row) {
    Video(0x0200, 0, 0, static_cast<uint16_t>(row << 8 | col));
  }
  void Run() { core.Loop.Maincycle(); }

  // The whole storage equals the pattern.
  void ExpectPattern() {
    for (int r = 0; r < TScreen::kStorageRows; ++r)
      for (int c = 0; c < TScreen::kCols; ++c)
        ASSERT_EQ(core.Screen.Cell(c, r), PatternCell(c, r)) << c << "," << r;
  }

  testsupport::TCore core;
  int requests = 0;
};

TEST_F(VideoServiceTest, EachRequestGetsOnlyTheAcknowledgement) {
  Video(0x0E41);
  SetCursor(3, 4);
  Video(0x0941, 0x001E, 2);
  Video(0x0300);  // returns nothing either
  Run();
  EXPECT_EQ(core.Board.Written, Bytes(4, 0x55));
}

TEST_F(VideoServiceTest, SetCursorStoresPositionAsSent) {
  uint64_t changes = 0;
  core.Board.Do([&] { changes = core.Screen.Changes; });  // after the banner
  Video(0x0200, 0x0500, 0, 0x1EC8);  // DL 200, DH 30, BH 5 ignored
  Run();
  EXPECT_GT(core.Screen.Changes, changes) << "a cursor move is a change for watchers";
  EXPECT_EQ(core.Screen.CursorCol, 200);
  EXPECT_EQ(core.Screen.CursorRow, 30);
  ExpectPattern();
}

TEST_F(VideoServiceTest, SetModeThreeClears) {
  core.Board.Do([this] { core.Screen.CurrentAttr = 0x70; });
  SetCursor(9, 9);
  Video(0x0003);
  Run();
  EXPECT_EQ(core.Screen.VideoMode, 3);
  EXPECT_EQ(core.Screen.Cell(0, 0), (TScreenCell{0x20, 0x0F}));
  EXPECT_EQ(core.Screen.Cell(79, 24), (TScreenCell{0x20, 0x0F}));
  EXPECT_EQ(core.Screen.Cell(0, 25), PatternCell(0, 25));
  EXPECT_EQ(core.Screen.CursorCol, 0);
  EXPECT_EQ(core.Screen.CursorRow, 0);
  EXPECT_EQ(core.Screen.CurrentAttr, 0x0F);
}

TEST_F(VideoServiceTest, WriteCharAttrThreeTimesThenWriteCharKeepsAttr) {
  SetCursor(5, 2);
  Video(0x0941, 0x001E, 3);  // 'A' in 0x1E, three times
  Video(0x0A42, 0x0077, 2);  // 'B' twice; BL is not used
  Run();
  for (int c = 5; c <= 7; ++c) EXPECT_EQ(core.Screen.Cell(c, 2), (TScreenCell{'A', 0x1E}));
  for (int c = 8; c <= 9; ++c) EXPECT_EQ(core.Screen.Cell(c, 2), (TScreenCell{'B', 0x1E}));
  EXPECT_EQ(core.Screen.Cell(10, 2), PatternCell(10, 2));
  EXPECT_EQ(core.Screen.CursorCol, 10);
  EXPECT_EQ(core.Screen.CursorRow, 2);
  EXPECT_EQ(core.Screen.CurrentAttr, 0x1E);
}

TEST_F(VideoServiceTest, CountZeroWritesNothingAndKeepsAttr) {
  SetCursor(5, 2);
  Video(0x0941, 0x001E, 0);
  Video(0x0A42, 0x0000, 0);
  Run();
  ExpectPattern();
  EXPECT_EQ(core.Screen.CurrentAttr, 0x0F);
  EXPECT_EQ(core.Screen.CursorCol, 5);
  EXPECT_EQ(core.Screen.ScreenDirty, 0);
}

class VideoWrapAtBottom : public VideoServiceTest, public ::testing::WithParamInterface<uint16_t> {};

// Past column 79 of row 24 both write functions go on at column 0 of row 24
// without scrolling.
TEST_P(VideoWrapAtBottom, OverwritesRow24WithoutScroll) {
  SetCursor(78, 24);
  Video(GetParam(), 0x0031, 4);
  Run();
  const uint8_t ch = static_cast<uint8_t>(GetParam() & 0xFF);
  for (int c : {78, 79, 0, 1}) EXPECT_EQ(core.Screen.Cell(c, 24).Char, ch) << c;
  EXPECT_EQ(core.Screen.Cell(2, 24), PatternCell(2, 24));
  EXPECT_EQ(core.Screen.Cell(0, 23), PatternCell(0, 23));
  EXPECT_EQ(core.Screen.CursorCol, 2);
  EXPECT_EQ(core.Screen.CursorRow, 24);
}

INSTANTIATE_TEST_SUITE_P(Functions, VideoWrapAtBottom, ::testing::Values(0x0958, 0x0A59), testsupport::TIndexName());

TEST_F(VideoServiceTest, FullCountFillsWithinTheScreen) {
  SetCursor(0, 0);
  Video(0x0923, 0x0024, 0xFFFF);
  Run();
  EXPECT_EQ(core.Screen.Cell(0, 0), (TScreenCell{'#', 0x24}));
  EXPECT_EQ(core.Screen.Cell(79, 24), (TScreenCell{'#', 0x24}));
  EXPECT_EQ(core.Screen.Cell(0, 25), PatternCell(0, 25));
  // 65535 cells: 2000 fill rows 0-24, the rest keep overwriting row 24.
  EXPECT_EQ(core.Screen.CursorRow, 24);
  EXPECT_EQ(core.Screen.CursorCol, (65535 - 2000) % 80);
}

TEST_F(VideoServiceTest, ScrollFunctionsTakeWindowFromCxDxAndFillFromBh) {
  Video(0x0601, 0x4E00, 0x0302, 0x0605);  // up one: (2,3)-(5,6), fill 0x4E
  Run();
  EXPECT_EQ(core.Screen.Cell(2, 3), PatternCell(2, 4));
  EXPECT_EQ(core.Screen.Cell(5, 5), PatternCell(5, 6));
  EXPECT_EQ(core.Screen.Cell(2, 6), (TScreenCell{0x20, 0x4E}));
  EXPECT_EQ(core.Screen.Cell(6, 6), PatternCell(6, 6));
  EXPECT_EQ(core.Screen.Cell(1, 3), PatternCell(1, 3));
  EXPECT_EQ(core.Screen.Cell(2, 2), PatternCell(2, 2));
  EXPECT_EQ(core.Screen.Cell(2, 7), PatternCell(2, 7));
}

TEST_F(VideoServiceTest, ScrollDownFunctionMovesContentDown) {
  Video(0x0702, 0x1700, 0x0000, 0x184F);  // down two, whole screen, fill 0x17
  Run();
  EXPECT_EQ(core.Screen.Cell(0, 0), (TScreenCell{0x20, 0x17}));
  EXPECT_EQ(core.Screen.Cell(79, 1), (TScreenCell{0x20, 0x17}));
  EXPECT_EQ(core.Screen.Cell(7, 2), PatternCell(7, 0));
  EXPECT_EQ(core.Screen.Cell(7, 24), PatternCell(7, 22));
  EXPECT_EQ(core.Screen.Cell(7, 25), PatternCell(7, 25));
}

TEST_F(VideoServiceTest, TeletypeKeepsFillAttributeOfEarlierScroll) {
  Video(0x0600, 0x3100, 0x0000, 0x184F);  // clear the screen in 0x31
  Video(0x0E48, 0x0007);                 // 'H'; BL is ignored
  Run();
  EXPECT_EQ(core.Screen.Cell(0, 0), (TScreenCell{'H', 0x31}));
  EXPECT_EQ(core.Screen.CursorCol, 1);
}

TEST_F(VideoServiceTest, OtherModeDropsModeBoundFunctionsButNotTeletype) {
  SetCursor(10, 10);
  Video(0x0083);
  SetCursor(40, 20);
  Video(0x0600, 0x4E00, 0x0000, 0x184F);
  Video(0x0700, 0x4E00, 0x0000, 0x184F);
  Video(0x0941, 0x001E, 5);
  Video(0x0A41, 0x0000, 5);
  core.Board.Do([this] {
    EXPECT_EQ(core.Screen.VideoMode, 0x83);
    ExpectPattern();  // not cleared, nothing written
    EXPECT_EQ(core.Screen.CursorCol, 10);
    EXPECT_EQ(core.Screen.CursorRow, 10);
    EXPECT_EQ(core.Screen.CurrentAttr, 0x0F);
  });
  Video(0x0E54);  // teletype still prints
  Run();
  EXPECT_EQ(core.Screen.Cell(10, 10), (TScreenCell{'T', PatternCell(10, 10).Attr}));
  EXPECT_EQ(core.Screen.CursorCol, 11);
}

TEST_F(VideoServiceTest, ModeThreeAgainRestoresFunctions) {
  Video(0x0001);
  Video(0x0003);
  SetCursor(4, 4);
  Video(0x0941, 0x001E, 1);
  Run();
  EXPECT_EQ(core.Screen.VideoMode, 3);
  EXPECT_EQ(core.Screen.Cell(4, 4), (TScreenCell{'A', 0x1E}));
}

class VideoIgnored : public VideoServiceTest, public ::testing::WithParamInterface<uint16_t> {};

TEST_P(VideoIgnored, ChangesNothing) {
  SetCursor(7, 8);
  Video(GetParam(), 0x1234, 0x0005, 0x0000);
  Run();
  ExpectPattern();
  EXPECT_EQ(core.Screen.CursorCol, 7);
  EXPECT_EQ(core.Screen.CursorRow, 8);
  EXPECT_EQ(core.Screen.VideoMode, 3);
  EXPECT_EQ(core.Screen.CurrentAttr, 0x0F);
  EXPECT_EQ(core.Board.Written, Bytes(2, 0x55));
}

INSTANTIATE_TEST_SUITE_P(Functions, VideoIgnored,
                         ::testing::Values(0x0141, 0x0341, 0x0441, 0x0541, 0x0841, 0x0B41,
                                           0x0C41, 0x0D41, 0x0F00, 0x0F41, 0x1041, 0x7F41,
                                           0xFF41), testsupport::TIndexName());

TEST_F(VideoServiceTest, ExtremeRegistersStayInsideTheStorage) {
  Video(0x06FF, 0xFFFF, 0xFFFF, 0xFFFF);
  Video(0x07FF, 0xFFFF, 0x0000, 0xFFFF);  // (0,0)-(255,255): the whole screen
  SetCursor(255, 255);
  Video(0x0E09);  // tab past the end
  Video(0x0AFE, 0x0000, 3);
  Run();
  EXPECT_EQ(core.Screen.Cell(5, 5), (TScreenCell{0x20, 0xFF}));
  EXPECT_EQ(core.Screen.CursorCol, 3);
  EXPECT_EQ(core.Screen.CursorRow, 24);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(core.Screen.Cell(c, 24), (TScreenCell{0xFE, 0x0F}));
  EXPECT_EQ(core.Screen.Cell(3, 24), (TScreenCell{0x20, 0xFF}));
  for (int r = 25; r < 50; ++r)
    for (int c = 0; c < 80; ++c) ASSERT_EQ(core.Screen.Cell(c, r), PatternCell(c, r));
}

}  // namespace
