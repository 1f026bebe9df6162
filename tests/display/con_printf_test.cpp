#include <gtest/gtest.h>

#include "tests/support/param_names.h"

#include <string>

#include "display/screen.h"

namespace {

using display::TScreen;
using display::TScreenCell;

std::string RowText(const TScreen& s, int row, int from, int count) {
  std::string out;
  for (int c = from; c < from + count; ++c) out += static_cast<char>(s.Cell(c, row).Char);
  return out;
}

TEST(ConPrintf, FormatsAtTheCursorInCurrentAttr) {
  TScreen s;
  s.CurrentAttr = 0x1F;
  s.CursorCol = 4;
  s.CursorRow = 6;
  const int n = s.ConPrintf("%lu %02x %X %s", 4294967295UL, 0x7, 0xBEEFu, "ok");
  const std::string expected = "4294967295 07 BEEF ok";
  EXPECT_EQ(n, static_cast<int>(expected.size()));
  EXPECT_EQ(RowText(s, 6, 4, n), expected);
  EXPECT_EQ(s.Cell(4, 6).Attr, 0x1F);
  EXPECT_EQ(s.CursorCol, 4 + n);
  EXPECT_EQ(s.CursorRow, 6);
}

TEST(ConPrintf, TeletypeContinuesBehindTextWithoutLineEnd) {
  TScreen s;
  s.ConPrintf("ab");
  s.TelePutch('c');
  EXPECT_EQ(RowText(s, 0, 0, 3), "abc");
  EXPECT_EQ(s.CursorCol, 3);
}

TEST(ConPrintf, MessageLineEndsAtColumnZeroOfNextRow) {
  TScreen s;
  s.ConPrintf("unknown cmd %02x\r\n", 0x42);
  EXPECT_EQ(RowText(s, 0, 0, 14), "unknown cmd 42");
  EXPECT_EQ(s.CursorCol, 0);
  EXPECT_EQ(s.CursorRow, 1);
}

class ConPrintfLong : public ::testing::TestWithParam<int> {};

// Texts that do not fit the 256-byte buffer appear whole.
TEST_P(ConPrintfLong, PrintsTheWholeText) {
  const int length = GetParam();
  std::string path = "/";
  for (int i = 1; i < length; ++i) path += static_cast<char>('a' + i % 26);
  TScreen s;
  const int n = s.ConPrintf("%s", path.c_str());
  EXPECT_EQ(n, length);
  std::string shown;
  for (int i = 0; i < length; ++i) shown += static_cast<char>(s.Cell(i % 80, i / 80).Char);
  EXPECT_EQ(shown, path);
  EXPECT_EQ(s.CursorCol, length % 80);
  EXPECT_EQ(s.CursorRow, length / 80);
  EXPECT_EQ(s.Cell(length % 80, length / 80).Char, 0x20);
}

INSTANTIATE_TEST_SUITE_P(Lengths, ConPrintfLong, ::testing::Values(255, 256, 257, 1000, 1999), testsupport::TIndexName());

TEST(ConPrintf, LongTextScrollsLikeStrOut) {
  TScreen s;
  s.CursorRow = 24;
  const std::string text(300, 'x');
  EXPECT_EQ(s.ConPrintf("%s|", text.c_str()), 301);
  // 301 characters from column 0 of row 24: three wraps, three scrolls.
  EXPECT_EQ(s.CursorRow, 24);
  EXPECT_EQ(s.CursorCol, 301 % 80);
  EXPECT_EQ(s.Cell(300 % 80, 24).Char, '|');
  EXPECT_EQ(s.Cell(0, 21).Char, 'x');
  EXPECT_EQ(s.Cell(0, 20).Char, 0x20);
}

}  // namespace
