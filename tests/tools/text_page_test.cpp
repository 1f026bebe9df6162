#include "tools/text_page.h"

#include <gtest/gtest.h>

namespace boardsim {
namespace {

TEST(TextPageTest, ClearedPageIsWhiteSpacesWithTheTailZero) {
  TTextPage p;
  EXPECT_EQ(p.Char(79, 24), ' ');
  EXPECT_EQ(p.Attr(0, 0), 0x0F);
  EXPECT_EQ(p.Data()[4000], 0);  // the 96 bytes behind the page
  EXPECT_EQ(p.Data()[4095], 0);
}

TEST(TextPageTest, WriteCharAttrAdvancesAndSetsTheAttribute) {
  TTextPage p;
  p.SetCursor(78, 3);
  p.WriteCharAttr('x', 0x1E, 3);
  EXPECT_EQ(p.Char(78, 3), 'x');
  EXPECT_EQ(p.Attr(79, 3), 0x1E);
  EXPECT_EQ(p.Char(0, 4), 'x');
  EXPECT_EQ(p.CursorCol(), 1);
  EXPECT_EQ(p.CursorRow(), 4);
  p.WriteChar('y', 1);  // in the attribute left by the last 0x09
  EXPECT_EQ(p.Attr(1, 4), 0x1E);
}

TEST(TextPageTest, TeletypeKeepsTheCellAttribute) {
  TTextPage p;
  p.ScrollUp(0, 0, 79, 24, 0, 0x47);
  p.SetCursor(5, 5);
  p.Teletype('A');
  EXPECT_EQ(p.Char(5, 5), 'A');
  EXPECT_EQ(p.Attr(5, 5), 0x47);
  p.Teletype(8);
  p.Teletype(8);
  EXPECT_EQ(p.CursorCol(), 4);
  p.Teletype(9);
  EXPECT_EQ(p.CursorCol(), 8);
  p.Teletype(7);
  EXPECT_EQ(p.CursorCol(), 8);
}

TEST(TextPageTest, LineFeedOnTheLastRowScrollsKeepingColours) {
  TTextPage p;
  p.SetCursor(0, 24);
  p.WriteCharAttr('z', 0x2A, 1);
  p.SetCursor(0, 1);
  p.Teletype('t');
  p.SetCursor(3, 24);
  p.Teletype(10);
  EXPECT_EQ(p.CursorRow(), 24);
  EXPECT_EQ(p.Char(0, 23), 'z');
  EXPECT_EQ(p.Char(0, 0), 't');
  EXPECT_EQ(p.Char(0, 24), ' ');
  EXPECT_EQ(p.Attr(0, 24), 0x2A);
}

TEST(TextPageTest, WindowScrollMovesOnlyTheWindow) {
  TTextPage p;
  p.SetCursor(10, 11);
  p.WriteCharAttr('a', 0x07, 1);
  p.SetCursor(30, 11);
  p.WriteCharAttr('b', 0x07, 1);
  p.ScrollUp(5, 10, 20, 12, 1, 0x30);
  EXPECT_EQ(p.Char(10, 10), 'a');
  EXPECT_EQ(p.Char(10, 11), ' ');
  EXPECT_EQ(p.Attr(10, 12), 0x30);
  EXPECT_EQ(p.Char(30, 11), 'b');  // outside the window
  p.ScrollUp(5, 10, 20, 12, 0, 0x40);
  EXPECT_EQ(p.Char(10, 10), ' ');
  EXPECT_EQ(p.Attr(10, 10), 0x40);
}

TEST(TextPageTest, PositionsOffThePageWriteNothingOutside) {
  TTextPage p;
  p.SetCursor(200, 90);
  p.WriteCharAttr('q', 0x07, 5);
  p.Teletype('r');
  p.ScrollUp(-5, -5, 300, 300, 1, 0x11);
  EXPECT_EQ(p.Data()[4000], 0);
}

}  // namespace
}  // namespace boardsim
