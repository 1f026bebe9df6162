#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "display/video_service.h"
#include "tests/display/screen_pattern.h"
#include "tests/support/core_fixture.h"

namespace {

using display::TScreen;
using display::TScreenCell;
using displaytest::FillPattern;
using displaytest::PatternCell;
using testsupport::BlockBytes;
using testsupport::Bytes;
using testsupport::Cat;
using testsupport::ReplyBytes;
using testsupport::RequestBytes;

constexpr uint8_t kUpload = 0x7F;
constexpr uint16_t kAX = 0x7F01, kBX = 0x0B0C, kCX = 0x1234, kDX = 0xFEDC;
constexpr uint16_t kOldFlags = 0x0041;
constexpr int kBlockBytes = 512;

using TBlockData = std::array<uint8_t, kBlockBytes>;

// Distinct data for block i, try t.
TBlockData Data(int block, int attempt = 0) {
  TBlockData d{};
  for (int j = 0; j < kBlockBytes; ++j) d[j] = static_cast<uint8_t>(j * 7 + block * 31 + attempt * 101);
  return d;
}

// The block as sent, with its checksum spoilt.
Bytes BadBlock(const TBlockData& d) {
  Bytes b = BlockBytes(d.data());
  b[3] = static_cast<uint8_t>(b[3] + 1);
  return b;
}

class ScreenUploadTest : public ::testing::Test {
 protected:
  ScreenUploadTest() {
    core.Link.Reply.Flags = kOldFlags;  // as an earlier service left it
    core.Board.Do([this] {
      FillPattern(core.Screen);
      core.Screen.CursorCol = 17;
      core.Screen.CursorRow = 9;
      core.Screen.CurrentAttr = 0x2C;
      core.Screen.ScreenDirty = 0;
      core.Board.TakeWritten();
    });
    core.Board.Send(RequestBytes(kUpload, kAX, kBX, kCX, kDX)).Ack();
  }

  Bytes Reply() const { return ReplyBytes(10, kAX, kBX, kCX, kDX, kOldFlags); }

  // The storage bytes 0-4095 hold block i's data at i x 512 for the first `blocks` blocks.
  void ExpectBlocks(int blocks, int attempt) {
    for (int i = 0; i < blocks; ++i) {
      const TBlockData d = Data(i, attempt);
      ASSERT_EQ(std::memcmp(core.Screen.Bytes() + i * kBlockBytes, d.data(), kBlockBytes), 0)
          << "block " << i;
    }
  }
  void ExpectCursorAndAttrKept() {
    EXPECT_EQ(core.Screen.CursorCol, 17);
    EXPECT_EQ(core.Screen.CursorRow, 9);
    EXPECT_EQ(core.Screen.CurrentAttr, 0x2C);
  }

  testsupport::TCore core;
};

TEST_F(ScreenUploadTest, GoodBlocksReplaceTheWholePage) {
  for (int i = 0; i < 8; ++i) core.Board.Send(BlockBytes(Data(i).data()));
  core.Board.Ack();
  core.Loop.Maincycle();

  Bytes expected = Cat({{0x55}, Reply()});
  for (int i = 0; i < 8; ++i) expected.push_back(0x55);
  expected = Cat({expected, Reply()});
  EXPECT_EQ(core.Board.Written, expected);
  ExpectBlocks(8, 0);
  // Block 7's last 96 bytes fill cells 2000-2047, the start of spare row 25.
  const TBlockData last = Data(7);
  EXPECT_EQ(core.Screen.Cell(0, 25), (TScreenCell{last[416], last[417]}));
  EXPECT_EQ(core.Screen.Cell(47, 25), (TScreenCell{last[510], last[511]}));
  EXPECT_EQ(core.Screen.Cell(48, 25), PatternCell(48, 25));
  EXPECT_EQ(core.Screen.Cell(79, 49), PatternCell(79, 49));
  ExpectCursorAndAttrKept();
  EXPECT_EQ(core.Screen.ScreenDirty, 1);
  EXPECT_EQ(core.Link.Reply.Code, 10);
}

TEST_F(ScreenUploadTest, EveryBlockBadStillTakesTheLastTry) {
  for (int i = 0; i < 8; ++i)
    for (int t = 0; t < 3; ++t) core.Board.Send(BadBlock(Data(i, t)));
  core.Board.Ack();
  core.Loop.Maincycle();

  Bytes expected = Cat({{0x55}, Reply()});
  for (int i = 0; i < 8 * 3; ++i) expected.push_back(0xAA);
  expected = Cat({expected, Reply()});
  EXPECT_EQ(core.Board.Written, expected);
  ExpectBlocks(8, 2);
  ExpectCursorAndAttrKept();
}

TEST_F(ScreenUploadTest, BadThenGoodTakesTheGoodTry) {
  core.Board.Send(BadBlock(Data(0, 0))).Send(BlockBytes(Data(0, 1).data()));
  for (int i = 1; i < 8; ++i) core.Board.Send(BlockBytes(Data(i, 1).data()));
  core.Board.Ack();
  core.Loop.Maincycle();
  ExpectBlocks(8, 1);
  const Bytes written = core.Board.Written;
  ASSERT_GE(written.size(), 18u);
  EXPECT_EQ(written[16], 0xAA);
  EXPECT_EQ(written[17], 0x55);
}

TEST_F(ScreenUploadTest, WatchdogMidWayKeepsBlocksSoFarAndSendsNoSecondReply) {
  for (int i = 0; i < 3; ++i) core.Board.Send(BlockBytes(Data(i).data()));
  core.Board.Tick(20);
  core.Loop.Maincycle();

  EXPECT_EQ(core.Board.Written, Cat({{0x55}, Reply(), {0x55, 0x55, 0x55}}));
  ExpectBlocks(3, 0);
  // From block 3 on the storage is as it was.
  for (int cell = 3 * kBlockBytes / 2; cell < TScreen::kCells; ++cell)
    ASSERT_EQ(core.Screen.VideoBuffer[static_cast<size_t>(cell)], PatternCell(cell % 80, cell / 80));
  ExpectCursorAndAttrKept();
  // The blocks that did land are marked for the next refresh.
  EXPECT_EQ(core.Screen.ScreenDirty, 1);
}

TEST_F(ScreenUploadTest, NextRequestIsServedAfterAnAbandonedUpload) {
  core.Board.Send(BlockBytes(Data(0).data())).Tick(20);
  core.Board.Send(RequestBytes(0x10, 0x0E21));
  core.Loop.Maincycle();
  EXPECT_EQ(core.Screen.Cell(17, 9).Char, '!');
  const Bytes written = core.Board.Written;
  ASSERT_EQ(written.size(), 1u + 15u + 1u + 1u);
  EXPECT_EQ(written.back(), 0x55);
}

}  // namespace
