#include <gtest/gtest.h>

#include "link/link.h"
#include "tests/support/fake_board.h"
#include "tests/support/param_names.h"

namespace {

using testsupport::Bytes;
using testsupport::Cat;
using testsupport::ReplyBytes;
using testsupport::RequestBytes;

class LinkTest : public ::testing::Test {
 protected:
  LinkTest() {
    Board.Attach(&Link);
    Board.DisconnectWhenIdle = true;
    Link.Watchdog = wire::TLink::kWatchdogTicks;
  }
  testsupport::TFakeBoard Board;
  wire::TLink Link{Board, Board};
};

TEST_F(LinkTest, ReadPacketSkipsGarbageBeforeTheStartByte) {
  Board.Send(Cat({{0x01, 0x55, 0xAA, 0xFF}, RequestBytes(0x16, 0x0100)}));
  wire::TRequestPacket r{};
  EXPECT_EQ(Link.ReadPacket(&r, sizeof r), 0);
  EXPECT_EQ(r.Service, 0x16);
  EXPECT_EQ(uint16_t{r.AX}, 0x0100);
  EXPECT_EQ(Board.Written, Bytes{0x55});
}

TEST_F(LinkTest, StartByteInsideAPacketDoesNotRestartIt) {
  Bytes req = RequestBytes(0x10, 0x0E77, 0x7777);
  Board.Send(req);
  wire::TRequestPacket r{};
  EXPECT_EQ(Link.ReadPacket(&r, sizeof r), 0);
  EXPECT_EQ(uint16_t{r.AX}, 0x0E77);
  EXPECT_EQ(uint16_t{r.BX}, 0x7777);
}

TEST_F(LinkTest, BadChecksumIsAnsweredWithNak) {
  Bytes req = RequestBytes(0x10, 0x0E41);
  req[6] ^= 0x01;
  Board.Send(req);
  wire::TRequestPacket r{};
  EXPECT_EQ(Link.ReadPacket(&r, sizeof r), 0xCC);
  EXPECT_EQ(Board.Written, Bytes{0xAA});
}

TEST_F(LinkTest, WrongLengthFieldWithGoodChecksumIsAccepted) {
  wire::TRequestPacket wire{};
  wire.Service = 0x16;
  wire::SealPacket(&wire, sizeof wire);
  wire.Length = 0x1234;
  wire.Checksum = 0;
  wire.Checksum = wire::PacketChecksum(&wire, sizeof wire);
  const auto* p = reinterpret_cast<const uint8_t*>(&wire);
  Board.Send(Bytes(p, p + sizeof wire));
  wire::TRequestPacket r{};
  EXPECT_EQ(Link.ReadPacket(&r, sizeof r), 0);
  EXPECT_EQ(uint16_t{r.Length}, 0x1234);
}

TEST_F(LinkTest, StrayStartByteCostsOneNakThenTheRealPacketIsFound) {
  // A stray 0x77 swallows the next 12 bytes as a packet; the board resends after the NAK.
  Board.Send(Cat({{0x77}, RequestBytes(0x16, 0x0100)})).Send(RequestBytes(0x16, 0x0100));
  wire::TRequestPacket r{};
  EXPECT_EQ(Link.ReadPacket(&r, sizeof r), 0xCC);
  EXPECT_EQ(Link.ReadPacket(&r, sizeof r), 0);
  EXPECT_EQ(uint16_t{r.AX}, 0x0100);
  EXPECT_EQ(Board.Written, (Bytes{0xAA, 0x55}));
}

TEST_F(LinkTest, SendReplyResendsTheIdenticalPacketAfterARefusal) {
  Link.Reply.Code = 10;
  Link.Reply.AX = 0x1E61;
  Board.Nak().Send({0x12}).Ack();
  EXPECT_EQ(Link.SendReply(), 0);
  const Bytes one = ReplyBytes(10, 0x1E61, 0, 0, 0, 0);
  EXPECT_EQ(Board.Written, Cat({one, one, one}));
}

TEST_F(LinkTest, SendReplyGivesUpAfterThreeRefusals) {
  Board.Nak().Nak().Nak().Ack();
  EXPECT_EQ(Link.SendReply(), 1);
  EXPECT_EQ(Board.Written.size(), 3 * wire::kReplySize);
  EXPECT_FALSE(Board.ScriptDone());  // the fourth answer was not read
}

TEST_F(LinkTest, SendPacketConsumesExactlyOneAnswerByte) {
  Board.Send({0x55, 0x77});
  wire::TReplyPacket reply{};
  EXPECT_EQ(Link.SendPacket(&reply, sizeof reply), 0);
  EXPECT_TRUE(Link.RxHasData());
  EXPECT_EQ(Link.RxGetByte(), 0x77);
}

TEST_F(LinkTest, WaitWithWatchdogAtZeroLeavesAtOnceWithoutPumping) {
  Link.Watchdog = 0;
  wire::TRequestPacket r{};
  EXPECT_THROW(Link.ReadPacket(&r, sizeof r), wire::TAbortExchange);
  EXPECT_EQ(Board.WaitCalls, 0);
}

TEST_F(LinkTest, WaitLeavesWhenTheWatchdogRunsOutMidPacket) {
  Bytes req = RequestBytes(0x16, 0);
  Board.Send(Bytes(req.begin(), req.begin() + 5)).Tick(20).Send(Bytes(req.begin() + 5, req.end()));
  wire::TRequestPacket r{};
  EXPECT_THROW(Link.ReadPacket(&r, sizeof r), wire::TAbortExchange);
  EXPECT_EQ(Board.TicksDelivered, 20);
  EXPECT_EQ(Link.Watchdog, 0);
  EXPECT_TRUE(Board.Written.empty());
}

TEST_F(LinkTest, WaitLeavesWhenDisconnectIsPressed) {
  Board.Do([this] { Link.AbortRequested = 1; }).Ack();
  wire::TReplyPacket reply{};
  EXPECT_THROW(Link.SendPacket(&reply, sizeof reply), wire::TAbortExchange);
  EXPECT_FALSE(Board.ScriptDone());
}

TEST_F(LinkTest, AnswerArrivingWithDisconnectDoesNotEndTheWait) {
  // Disconnect and the board's 0x55 are handled in the same turn of the message
  // loop: the wait must still leave, since Disconnect has freed the track buffer
  // that the caller would go on to use.
  struct TAckPort : wire::ILinkPort {
    bool Left = true;
    int Read(void* buffer, uint32_t count) override {
      if (!Left || count == 0) return 0;
      *static_cast<uint8_t*>(buffer) = wire::kAck;
      Left = false;
      return 1;
    }
    int Write(const void*, uint32_t count) override { return static_cast<int>(count); }
    int InQueCount() override { return Left ? 1 : 0; }
  } port;
  Board.Do([&] {
    Link.AbortRequested = 1;
    Link.Rx.CommRxChar(port, 1);
  });
  wire::TReplyPacket reply{};
  EXPECT_THROW(Link.SendPacket(&reply, sizeof reply), wire::TAbortExchange);
  EXPECT_TRUE(Link.RxHasData());  // the answer is left unread
}

TEST_F(LinkTest, WatchdogNeverCountsBelowZero) {
  Link.Watchdog = 1;
  Link.TimerTick();
  Link.TimerTick();
  EXPECT_EQ(Link.Watchdog, 0);
}

TEST_F(LinkTest, ReceiveBlockRetriesAndKeepsTheLastTry) {
  Bytes bad = testsupport::BlockBytes(0x11);
  bad[100] ^= 0x40;
  Board.Send(bad).Send(bad).Send(testsupport::BlockBytes(0x22));
  Link.Watchdog = 3;
  EXPECT_TRUE(Link.ReceiveBlock());
  EXPECT_EQ(Link.Block.Data[0], 0x22);
  EXPECT_EQ(Board.Written, (Bytes{0xAA, 0xAA, 0x55}));
}

// The packet with other length bytes, its checksum made good again.
Bytes WithLength(Bytes packet, uint8_t lo, uint8_t hi) {
  packet[1] = lo;
  packet[2] = hi;
  packet[3] = 0;
  packet[3] = wire::PacketChecksum(packet.data(), packet.size());
  return packet;
}

// 512 data bytes with a 0x77 at offset 100 and nowhere else.
Bytes DataWithStartByteAt100() {
  Bytes data(512);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i % 0x70);
  data[100] = 0x77;
  return data;
}

struct TFramingCase {
  size_t Size;     // 13 request, 516 block
  bool Garbage;    // bytes without a 0x77 arrive first
  uint8_t Lo, Hi;  // the length bytes
  uint8_t Answer;
};

class LinkFraming : public LinkTest, public ::testing::WithParamInterface<TFramingCase> {};

TEST_P(LinkFraming, LengthBytesMatterOnlyForABlockFramedAfterDroppedBytes) {
  const auto& c = GetParam();
  const Bytes sealed = c.Size == wire::kBlockSize ? testsupport::BlockBytes(0x3C)
                                                  : RequestBytes(0x16, 0x0100);
  const Bytes packet = WithLength(sealed, c.Lo, c.Hi);
  Board.Send(c.Garbage ? Cat({{0x01, 0x02, 0x03}, packet}) : packet);
  Bytes got(c.Size);
  EXPECT_EQ(Link.ReadPacket(got.data(), got.size()), c.Answer == wire::kAck ? 0 : 0xCC);
  EXPECT_EQ(Board.Written, Bytes{c.Answer});
  if (c.Answer == wire::kAck) {
    EXPECT_EQ(got, packet);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LinkFraming,
    ::testing::Values(TFramingCase{516, false, 0x04, 0x02, wire::kAck},
                      TFramingCase{516, false, 0x00, 0x02, wire::kAck},  // length never filled in
                      TFramingCase{516, false, 0x00, 0x00, wire::kAck},
                      TFramingCase{516, true, 0x04, 0x02, wire::kAck},
                      TFramingCase{516, true, 0x00, 0x02, wire::kNak},
                      TFramingCase{13, false, 0x34, 0x12, wire::kAck},
                      TFramingCase{13, true, 0x34, 0x12, wire::kAck}),
    testsupport::TIndexName());

TEST_F(LinkTest, BlockFramedOnAStartByteInsideItsDataIsRefusedAndTheResendTaken) {
  // The block's real start byte is lost on the line; the host frames on the
  // 0x77 at data offset 100 and completes the 516 bytes with the head of the
  // board's resend. That rotation sums to 0 but its length bytes are data, so
  // it is refused; the rest of that resend is dropped, and the next one is
  // taken as the sector.
  const Bytes data = DataWithStartByteAt100();
  const Bytes block = testsupport::BlockBytes(data.data());
  const Bytes lost(block.begin() + 1, block.end());
  ASSERT_EQ(wire::PacketChecksum(Cat({Bytes(block.begin() + 104, block.end()), Bytes(block.begin(), block.begin() + 104)}).data(), 516), 0);
  Board.Send(lost).Send(block).Send(block);
  Link.Watchdog = 3;
  EXPECT_TRUE(Link.ReceiveBlock());
  EXPECT_EQ(Board.Written, (Bytes{0xAA, 0x55}));
  EXPECT_EQ(Bytes(Link.Block.Data, Link.Block.Data + 512), data);
  EXPECT_FALSE(Link.FramingInDoubt);
}

TEST_F(LinkTest, ResendFramedCleanlyOnTheSameInnerStartByteIsRefusedToo) {
  // The rest of the first resend arrives only after the refusal: it starts
  // with the same inner 0x77, so nothing is dropped before it, and with the
  // head of the next resend it makes the same rotation again.
  const Bytes data = DataWithStartByteAt100();
  const Bytes block = testsupport::BlockBytes(data.data());
  Board.Send(Bytes(block.begin() + 1, block.end()))
      .Send(Bytes(block.begin(), block.begin() + 104))
      .Send(Bytes(block.begin() + 104, block.end()))
      .Send(block)
      .Send(block);
  Link.Watchdog = 3;
  EXPECT_TRUE(Link.ReceiveBlock());
  EXPECT_EQ(Board.Written, (Bytes{0xAA, 0xAA, 0x55}));
  EXPECT_EQ(Bytes(Link.Block.Data, Link.Block.Data + 512), data);
}

TEST_F(LinkTest, SendBlockSealsAndRetriesThreeTimesAtMost) {
  uint8_t data[512];
  for (int i = 0; i < 512; ++i) data[i] = static_cast<uint8_t>(i);
  Board.Nak().Nak().Nak();
  EXPECT_FALSE(Link.SendBlock(data));
  const Bytes one = testsupport::BlockBytes(data);
  EXPECT_EQ(Board.Written, Cat({one, one, one}));
}

}  // namespace
