#include <gtest/gtest.h>

#include <string>

#include "tests/support/core_fixture.h"

namespace {

using testsupport::Bytes;
using testsupport::Cat;
using testsupport::ReplyBytes;
using testsupport::RequestBytes;

class ServiceLoopTest : public ::testing::Test {
 protected:
  testsupport::TCore Core;
  testsupport::TFakeBoard& Board = Core.Board;

  std::string Row(int row) const {
    std::string s;
    for (int c = 0; c < display::TScreen::kCols; ++c) s += static_cast<char>(Core.Screen.Cell(c, row).Char);
    return s.substr(0, s.find_last_not_of(' ') + 1);
  }
};

TEST_F(ServiceLoopTest, AbortBeforeTheFirstTurnPrintsTheBannerAndReturns) {
  Core.Link.AbortRequested = 1;
  Board.Send(RequestBytes(0x0B, 0));
  Core.Loop.Maincycle();
  EXPECT_EQ(Board.WaitCalls, 0);
  EXPECT_TRUE(Board.Written.empty());
  EXPECT_EQ(Core.Screen.VideoMode, 3);
}

TEST_F(ServiceLoopTest, HandshakeEchoesRegistersWithTheOptionBitsAndClearsTheScreen) {
  Core.Loop.OptionBits = 7;
  Core.Screen.Cell(5, 5) = {'X', 0x1E};
  Core.Link.Reply.Flags = 0x0041;
  Board.Send(RequestBytes(0x0B, 0x1234, 0x5678, 0x9999, 0x0042)).Ack();
  Core.Loop.Maincycle();
  EXPECT_EQ(Board.Written, Cat({{0x55}, ReplyBytes(0, 0x1234, 0x5678, 7, 0x0042, 0)}));
  EXPECT_EQ(Core.Screen.Cell(5, 5).Char, ' ');
  EXPECT_EQ(Core.Screen.Cell(5, 5).Attr, 0x0F);
  ASSERT_EQ(Core.Status.Texts.size(), 1u);
  EXPECT_EQ(Core.Status.Texts[0], "Ping!");
}

TEST_F(ServiceLoopTest, HandshakeKeepsTheCodeOfThePreviousReply) {
  Core.Link.Reply.Code = 10;
  Board.Send(RequestBytes(0x0B, 0)).Ack();
  Core.Loop.Maincycle();
  EXPECT_EQ(Board.Written, Cat({{0x55}, ReplyBytes(10, 0, 0, 0, 0, 0)}));
}

TEST_F(ServiceLoopTest, VideoRequestIsOnlyAcknowledged) {
  Board.Send(RequestBytes(0x10, 0x0E41));
  Core.Loop.Maincycle();
  EXPECT_EQ(Board.Written, Bytes{0x55});
}

TEST_F(ServiceLoopTest, UnknownServiceIsPrintedAndNotAnswered) {
  Board.Send(RequestBytes(0x42, 0));
  Core.Loop.Maincycle();
  EXPECT_EQ(Board.Written, Bytes{0x55});
  bool found = false;
  for (int r = 0; r < display::TScreen::kRows; ++r) found = found || Row(r) == "unknown cmd 42";
  EXPECT_TRUE(found);
}

TEST_F(ServiceLoopTest, ThreeBadChecksumsDropTheRequest) {
  Bytes bad = RequestBytes(0x0B, 0);
  bad[5] = 0x01;
  Board.Send(bad).Send(bad).Send(bad);
  Core.Loop.Maincycle();
  EXPECT_EQ(Board.Written, (Bytes{0xAA, 0xAA, 0xAA}));
  EXPECT_TRUE(Core.Status.Texts.empty());
}

TEST_F(ServiceLoopTest, ResentRequestIsServedAfterOneBadChecksum) {
  Bytes bad = RequestBytes(0x0B, 0);
  bad[5] = 0x01;
  Board.Send(bad).Send(RequestBytes(0x0B, 0)).Ack();
  Core.Loop.Maincycle();
  EXPECT_EQ(Board.Written, Cat({{0xAA, 0x55}, ReplyBytes(0, 0, 0, 0, 0, 0)}));
}

TEST_F(ServiceLoopTest, GarbageBeforeTheRequestIsSkipped) {
  Board.Send({0x00, 0x13, 0xFE}).Send(RequestBytes(0x0B, 0x0001)).Ack();
  Core.Loop.Maincycle();
  EXPECT_EQ(Board.Written, Cat({{0x55}, ReplyBytes(0, 0x0001, 0, 0, 0, 0)}));
}

TEST_F(ServiceLoopTest, RefusedReplyIsSentThreeTimesAtMost) {
  Board.Send(RequestBytes(0x0B, 0)).Nak().Nak().Nak().Send(RequestBytes(0x0B, 0x0002)).Ack();
  Core.Loop.Maincycle();
  const Bytes first = ReplyBytes(0, 0, 0, 0, 0, 0);
  EXPECT_EQ(Board.Written,
            Cat({{0x55}, first, first, first, {0x55}, ReplyBytes(0, 2, 0, 0, 0, 0)}));
}

TEST_F(ServiceLoopTest, WatchdogExpiryMidPacketAbandonsItAndTheNextRequestIsRead) {
  const Bytes req = RequestBytes(0x0B, 0x0101);
  Board.Send(Bytes(req.begin(), req.begin() + 6)).Tick(20).Send(RequestBytes(0x0B, 0x0202)).Ack();
  Core.Loop.Maincycle();
  // The remains of the abandoned packet were skipped; only the second request was served.
  EXPECT_EQ(Board.Written, Cat({{0x55}, ReplyBytes(0, 0x0202, 0, 0, 0, 0)}));
  EXPECT_EQ(Core.Status.Texts, std::vector<std::string>{"Ping!"});
}

TEST_F(ServiceLoopTest, DisconnectWhileWaitingForTheAckOfAReplyEndsTheLoop) {
  Board.Send(RequestBytes(0x0B, 0)).Do([this] { Core.Link.AbortRequested = 1; }).Ack();
  Core.Loop.Maincycle();
  EXPECT_EQ(Board.Written, Cat({{0x55}, ReplyBytes(0, 0, 0, 0, 0, 0)}));
  EXPECT_TRUE(Core.Status.Texts.empty());  // no "Ping!" for an abandoned exchange
  EXPECT_FALSE(Board.ScriptDone());
}

TEST_F(ServiceLoopTest, TimeoutIsShownWhenTheWatchdogRanOutDuringACompletedRequest) {
  // The board finishes the request on the very last tick: it is still served.
  const Bytes req = RequestBytes(0x0B, 0);
  Board.Send(Bytes(req.begin(), req.begin() + 4)).Tick(19).Send(Bytes(req.begin() + 4, req.end()));
  Board.Tick(1).Ack();
  Core.Loop.Maincycle();
  EXPECT_EQ(Board.Written, Cat({{0x55}, ReplyBytes(0, 0, 0, 0, 0, 0)}));
  // Watchdog hit 0 while the ack was already waiting? No: the tick came first, so the
  // wait for the ack gave up and the exchange was abandoned.
  EXPECT_TRUE(Core.Status.Texts.empty());
}

TEST_F(ServiceLoopTest, IdleLoopWaitsInsteadOfSpinning) {
  Board.Tick(5);
  Core.Loop.Maincycle();
  EXPECT_EQ(Board.PendingCalls, 0);
  EXPECT_EQ(Board.WaitCalls, 6);  // five ticks, then the idle script presses Disconnect
}

TEST_F(ServiceLoopTest, HandlersInstalledLaterAreDispatched) {
  int calls = 0;
  Core.Loop.SetHandler(0x16, [&] { ++calls; });
  Board.Send(RequestBytes(0x16, 0x0100)).Send(RequestBytes(0x16, 0x0100));
  Core.Loop.Maincycle();
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(Core.Link.Request.Service, 0x16);
}

}  // namespace
