#include "floppy/disk_service.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "floppy/floppy_image.h"
#include "tests/floppy/floppy_fixture.h"
#include "tests/support/core_fixture.h"

namespace {

using floppytest::Bytes;
using floppytest::Image144;
using testsupport::BlockBytes;
using testsupport::Cat;
using testsupport::ReplyBytes;
using testsupport::RequestBytes;
using Lines = std::vector<std::string>;

constexpr uint8_t kDisk = 0x13;
constexpr uint16_t kCarry = wire::kFlagCarry;
const Bytes kAckByte{wire::kAck};
const Bytes kNakByte{wire::kNak};

// A connected core with the disk service installed and a 1.44 MB image open.
class DiskServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Dir.Path.empty());
    Name = Dir.File("disk.img");
    Original = Image144();
    floppytest::WriteFile(Name, Original);
    Core.Loop.SetHandler(kDisk, [this] { floppy::DiskService(Core.Link, Floppy); });
  }
  void Open(bool readOnly = false) {
    ASSERT_TRUE(Floppy.OpenImage(Name, readOnly));
    ASSERT_TRUE(Floppy.AllocTrackBuffer());
    Messages.clear();
  }
  // Runs the script; returns what the host wrote.
  Bytes Run() {
    Core.Loop.Maincycle();
    Core.Link.AbortRequested = 0;
    return Core.Board.TakeWritten();
  }
  Bytes Sectors(size_t offset, size_t count) const {
    Bytes blocks;
    for (size_t i = 0; i < count; ++i) {
      const auto b = BlockBytes(Original.data() + offset + i * 512);
      blocks.insert(blocks.end(), b.begin(), b.end());
    }
    return blocks;
  }
  Bytes Request(uint16_t ax, uint16_t cx, uint16_t dx, uint16_t bx = 0x1234) {
    return RequestBytes(kDisk, ax, bx, cx, dx);
  }
  // A board that writes `blocks` after the first reply and acknowledges both replies.
  void ScriptWrite(uint16_t ax, uint16_t cx, uint16_t dx, const std::vector<Bytes>& blocks) {
    Core.Board.Send(Request(ax, cx, dx)).Ack();
    for (const auto& b : blocks) Core.Board.Send(b);
    Core.Board.Ack();
  }

  floppytest::TTempDir Dir;
  std::string Name;
  Bytes Original;
  testsupport::TCore Core;
  std::vector<std::string> Messages;
  floppy::TFloppy Floppy{Core.Screen, [this](const std::string& m) { Messages.push_back(m); }};
};

TEST_F(DiskServiceTest, FullTrackReadSendsReplyThenBlocks) {
  Open();
  Core.Board.Send(Request(0x0212, 0x0001, 0x0000)).Ack();
  for (int i = 0; i < 18; ++i) Core.Board.Ack();
  EXPECT_EQ(Run(),
            Cat({kAckByte, ReplyBytes(0, 0x0012, 0x1234, 0x0001, 0x0000, 0), Sectors(0, 18)}));
}

TEST_F(DiskServiceTest, ReadAddressesCylinderHeadSector) {
  Open();
  // Cylinder 5, head 1, sectors 17 and 18.
  Core.Board.Send(Request(0x0202, 0x0511, 0x0100)).Ack().Ack().Ack();
  EXPECT_EQ(Run(), Cat({kAckByte, ReplyBytes(0, 0x0002, 0x1234, 0x0511, 0x0100, 0),
                        Sectors(((5 * 2 + 1) * 18 + 16) * 512, 2)}));
}

TEST_F(DiskServiceTest, CountAboveSectorsPerTrackGetsNoReply) {
  Open();
  Core.Board.Send(Request(0x0213, 0x0001, 0)).Send(Request(0x0313, 0x0001, 0));
  EXPECT_EQ(Run(), Cat({kAckByte, kAckByte}));
  EXPECT_EQ(
      Messages,
      (Lines{"Internal Error: Target application tries to read more than NUMSECTOR blocks.\r\n",
             "Internal Error: Target application tries to write more than NUMSECTOR blocks.\r\n"}));
}

TEST_F(DiskServiceTest, WriteLandsAtTheAddressedSector) {
  Open();
  Bytes data(512);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(0xA0 ^ i);
  ScriptWrite(0x0301, 0x0001, 0x0100, {BlockBytes(data.data())});
  EXPECT_EQ(Run(), Cat({kAckByte, ReplyBytes(10, 0x0301, 0x1234, 0x0001, 0x0100, 0), kAckByte,
                        ReplyBytes(10, 0x0001, 0x1234, 0x0001, 0x0100, 0)}));
  // In the file already, before any close.
  Bytes expected = Original;
  std::copy(data.begin(), data.end(), expected.begin() + 9216);
  EXPECT_EQ(floppytest::ReadFile(Name), expected);
}

// The port lost and back while the board's block was half received, all
// inside one wait of the host (a handler that ran a loop of its own there,
// as a modal dialog does): the block is never completed with the board's
// bytes from after the loss. Nothing is written, acknowledged or replied.
TEST_F(DiskServiceTest, BlockHalfReceivedBeforeALostPortIsNeverCompletedAfterIt) {
  Open();
  const Bytes data(512, 0xA5);
  const Bytes block = BlockBytes(data.data());
  const Bytes before(block.begin(), block.begin() + 300);
  Core.Board.Send(Request(0x0301, 0x0001, 0x0100)).Ack().Send(before).Do([&] {
    Core.Link.Lost();
    Core.Link.Back();
    for (size_t i = before.size(); i < block.size(); ++i) Core.Link.Rx.Store(block[i]);
    Core.Link.Rx.Store(wire::kAck);  // and the board's answer to the final reply
  });
  EXPECT_EQ(Run(), Cat({kAckByte, ReplyBytes(10, 0x0301, 0x1234, 0x0001, 0x0100, 0)}));
  EXPECT_EQ(floppytest::ReadFile(Name), Original);
}

struct TFixedCase {
  const char* Name;
  uint16_t AX;
  uint16_t ReplyAX, ReplyBX, ReplyCX, ReplyDX, Flags;
};

class DiskFixedFunctions : public DiskServiceTest,
                           public ::testing::WithParamInterface<TFixedCase> {};

TEST_P(DiskFixedFunctions, Answer) {
  const auto& c = GetParam();
  Open();
  // Carry left set by an earlier reply, so that "carry clear" is an action.
  Core.Link.Reply.Flags = kCarry;
  Core.Board.Send(Request(c.AX, 0x2A0B, 0x0C0D)).Ack();
  EXPECT_EQ(Run(),
            Cat({kAckByte, ReplyBytes(0, c.ReplyAX, c.ReplyBX, c.ReplyCX, c.ReplyDX, c.Flags)}));
  EXPECT_TRUE(Messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Functions, DiskFixedFunctions,
    ::testing::Values(TFixedCase{"DriveParameters", 0x08FF, 0x0000, 0x0004, 0x4F12, 0x0100, 0},
                      TFixedCase{"DiskType", 0x1507, 0x0107, 0x1234, 0x2A0B, 0x0C0D, 0},
                      TFixedCase{"Reset", 0x0003, 0x0003, 0x1234, 0x2A0B, 0x0C0D, 0},
                      TFixedCase{"Status", 0x0109, 0x0009, 0x1234, 0x2A0B, 0x0C0D, 0},
                      TFixedCase{"DiskChange", 0x1601, 0x0001, 0x1234, 0x2A0B, 0x0C0D, 0},
                      TFixedCase{"Format", 0x0505, 0x0105, 0x1234, 0x2A0B, 0x0C0D, kCarry},
                      TFixedCase{"Extended", 0x4100, 0x0100, 0x1234, 0x2A0B, 0x0C0D, kCarry}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(DiskServiceTest, DriveParametersIgnoreTheImageGeometry) {
  Open();
  Floppy.SectorsPerTrack = 36;
  Floppy.HeadCount = 1;
  Core.Board.Send(Request(0x0800, 0, 0)).Ack();
  EXPECT_EQ(Run(), Cat({kAckByte, ReplyBytes(0, 0, 4, 0x4F12, 0x0100, 0)}));
}

TEST_F(DiskServiceTest, UnsupportedFunctionsAreLoggedOnlyWhenAsked) {
  Open();
  Core.Board.Send(Request(0x0500, 0, 0)).Ack();
  Run();
  EXPECT_TRUE(Messages.empty());
  Floppy.DiskLog = 1;
  Core.Board.Send(Request(0x1A00, 0, 0)).Ack().Send(Request(0x0800, 0, 0)).Ack();
  Run();
  EXPECT_EQ(Messages, (Lines{"CmdFloppy 1A\r\n", "CmdFloppy 8\r\n"}));
}

TEST_F(DiskServiceTest, NoImageAnswersAhOneWithCarryOnly) {
  Open();
  Core.Board.Send(Request(0x0800, 0, 0)).Ack();
  Run();
  Floppy.CloseImage();
  // AH and carry change; AL, BX, CX, DX and Code stay as the last reply left them.
  Core.Link.Reply.Code = 7;
  Core.Board.Send(Request(0x0213, 0x0001, 0)).Ack().Send(Request(0x0305, 0x0001, 0)).Ack();
  const Bytes reply = ReplyBytes(7, 0x0100, 4, 0x4F12, 0x0100, kCarry);
  EXPECT_EQ(Run(), Cat({kAckByte, reply, kAckByte, reply}));
  EXPECT_TRUE(Messages.empty());
}

// Reads that cannot be served answer with a status and carry, and send no blocks.
struct TBadReadCase {
  const char* Name;
  uint16_t AX, CX, DX;
  uint8_t Status;
};

class DiskBadReads : public DiskServiceTest, public ::testing::WithParamInterface<TBadReadCase> {};

TEST_P(DiskBadReads, FailWithoutBlocks) {
  const auto& c = GetParam();
  Open();
  Core.Board.Send(Request(c.AX, c.CX, c.DX)).Ack();
  EXPECT_EQ(Run(), Cat({kAckByte, ReplyBytes(0, static_cast<uint16_t>(c.Status << 8), 0x1234, c.CX,
                                             c.DX, kCarry)}));
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, DiskBadReads,
    ::testing::Values(TBadReadCase{"SectorZero", 0x0201, 0x0000, 0x0000, 0x04},
                      TBadReadCase{"SectorAboveTrack", 0x0201, 0x0013, 0x0000, 0x04},
                      TBadReadCase{"HeadTwo", 0x0201, 0x0001, 0x0200, 0x04},
                      TBadReadCase{"CylinderEighty", 0x0201, 0x5001, 0x0000, 0x04},
                      TBadReadCase{"RunsOffTheEnd", 0x0202, 0x4F12, 0x0100, 0x04},
                      TBadReadCase{"HighCylinder", 0x0212, 0xFF01, 0x0100, 0x04}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(DiskServiceTest, LastSectorOfTheImageIsReadable) {
  Open();
  Core.Board.Send(Request(0x0201, 0x4F12, 0x0100)).Ack().Ack();
  EXPECT_EQ(Run(), Cat({kAckByte, ReplyBytes(0, 0x0001, 0x1234, 0x4F12, 0x0100, 0),
                        Sectors(floppytest::kImage144 - 512, 1)}));
}

TEST_F(DiskServiceTest, BadWriteAddressTakesBlocksAndWritesNothing) {
  Open();
  ScriptWrite(0x0302, 0x4F12, 0x0100, {BlockBytes(0x11), BlockBytes(0x22)});
  EXPECT_EQ(Run(), Cat({kAckByte, ReplyBytes(10, 0x0302, 0x1234, 0x4F12, 0x0100, 0), kAckByte,
                        kAckByte, ReplyBytes(10, 0x0400, 0x1234, 0x4F12, 0x0100, kCarry)}));
  EXPECT_EQ(floppytest::ReadFile(Name), Original);  // same bytes, same size
}

TEST_F(DiskServiceTest, BlockFailingThreeTimesSpoilsTheWholeWrite) {
  Open();
  Bytes bad = BlockBytes(0x33);
  bad[3] ^= 0x01;  // checksum no longer matches
  ScriptWrite(0x0302, 0x0001, 0x0000, {BlockBytes(0x44), bad, bad, bad});
  EXPECT_EQ(Run(), Cat({kAckByte, ReplyBytes(10, 0x0302, 0x1234, 0x0001, 0, 0), kAckByte, kNakByte,
                        kNakByte, kNakByte, ReplyBytes(10, 0x1000, 0x1234, 0x0001, 0, kCarry)}));
  EXPECT_EQ(floppytest::ReadFile(Name), Original);

  // The next write that arrives intact on a retry is written, and clears carry.
  ScriptWrite(0x0301, 0x0001, 0x0000, {bad, BlockBytes(0x55)});
  EXPECT_EQ(Run(), Cat({kAckByte, ReplyBytes(10, 0x0301, 0x1234, 0x0001, 0, kCarry), kNakByte,
                        kAckByte, ReplyBytes(10, 0x0001, 0x1234, 0x0001, 0, 0)}));
  const Bytes file = floppytest::ReadFile(Name);
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 512), Bytes(512, 0x55));
}

// Blocks as a board may put them on the line: with length bytes it never
// filled in, or with the start byte lost and the block sent again.
struct TBlockLineCase {
  const char* Name;
  bool StartByteLost;
  uint8_t LengthLo, LengthHi;
  Bytes HostAnswers;  // to the blocks
};

class DiskBlocksOnTheLine : public DiskServiceTest,
                            public ::testing::WithParamInterface<TBlockLineCase> {};

TEST_P(DiskBlocksOnTheLine, TheSectorIsWritten) {
  const auto& c = GetParam();
  Open();
  Bytes data(512);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i % 0x70);
  data[200] = 0x77;  // where a block without its start byte is framed
  Bytes block = BlockBytes(data.data());
  block[1] = c.LengthLo;
  block[2] = c.LengthHi;
  block[3] = 0;
  block[3] = wire::PacketChecksum(block.data(), block.size());
  const Bytes lost(block.begin() + 1, block.end());
  ScriptWrite(0x0301, 0x0001, 0x0000,
              c.StartByteLost ? std::vector<Bytes>{lost, block, block} : std::vector<Bytes>{block});
  EXPECT_EQ(Run(), Cat({kAckByte, ReplyBytes(10, 0x0301, 0x1234, 0x0001, 0, 0), c.HostAnswers,
                        ReplyBytes(10, 0x0001, 0x1234, 0x0001, 0, 0)}));
  const Bytes file = floppytest::ReadFile(Name);
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 512), data);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DiskBlocksOnTheLine,
    ::testing::Values(TBlockLineCase{"LengthNeverFilledIn", false, 0x00, 0x02, {wire::kAck}},
                      TBlockLineCase{"StartByteLost", true, 0x04, 0x02, {wire::kNak, wire::kAck}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(DiskServiceTest, ReadOnlyImageRefusesWritesButReads) {
  Open(true);
  ScriptWrite(0x0301, 0x0001, 0x0000, {BlockBytes(0x66)});
  Core.Board.Send(Request(0x0201, 0x0001, 0x0000)).Ack().Ack();
  // AH 3 (write protected) with AL kept; the read's reply keeps Code 10.
  EXPECT_EQ(Run(), Cat({kAckByte, ReplyBytes(10, 0x0301, 0x1234, 0x0001, 0, 0), kAckByte,
                        ReplyBytes(10, 0x0301, 0x1234, 0x0001, 0, kCarry), kAckByte,
                        ReplyBytes(10, 0x0001, 0x1234, 0x0001, 0, 0), Sectors(0, 1)}));
  EXPECT_EQ(floppytest::ReadFile(Name), Original);
}

TEST_F(DiskServiceTest, NoTrackBufferFailsTransfers) {
  Open();
  Floppy.FreeTrackBuffer();
  Core.Board.Send(Request(0x0201, 0x0001, 0)).Ack();
  ScriptWrite(0x0301, 0x0001, 0x0000, {BlockBytes(0x77)});
  EXPECT_EQ(Run(), Cat({kAckByte, ReplyBytes(0, 0x2000, 0x1234, 0x0001, 0, kCarry), kAckByte,
                        ReplyBytes(10, 0x0301, 0x1234, 0x0001, 0, kCarry), kAckByte,
                        ReplyBytes(10, 0x2000, 0x1234, 0x0001, 0, kCarry)}));
  EXPECT_EQ(floppytest::ReadFile(Name), Original);
}

TEST_F(DiskServiceTest, FailedFileWriteIsReported) {
  // The descriptor is read-only although the image believes it may write:
  // every write to the file fails.
  Floppy.OpenFunction = [](const char* path, int flags) {
    return ::open(path, (flags & ~O_ACCMODE) | O_RDONLY);
  };
  Open();
  ASSERT_FALSE(Floppy.ReadOnly);
  ScriptWrite(0x0301, 0x0001, 0x0000, {BlockBytes(0x78)});
  EXPECT_EQ(Run(), Cat({kAckByte, ReplyBytes(10, 0x0301, 0x1234, 0x0001, 0, 0), kAckByte,
                        ReplyBytes(10, 0x2000, 0x1234, 0x0001, 0, kCarry)}));
  EXPECT_EQ(floppytest::ReadFile(Name), Original);
}

TEST_F(DiskServiceTest, WriteAbandonedByTheWatchdogLeavesTheImage) {
  Open();
  Core.Board.Send(Request(0x0302, 0x0001, 0)).Ack().Send(BlockBytes(0x79)).Tick(20);
  Core.Board.Send(Request(0x0800, 0, 0)).Ack();
  EXPECT_EQ(Run(), Cat({kAckByte, ReplyBytes(10, 0x0302, 0x1234, 0x0001, 0, 0), kAckByte, kAckByte,
                        ReplyBytes(10, 0, 4, 0x4F12, 0x0100, 0)}));
  EXPECT_EQ(floppytest::ReadFile(Name), Original);
}

}  // namespace
