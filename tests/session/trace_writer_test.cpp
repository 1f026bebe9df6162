// The trace file and the link statistics, watching a real link and service
// loop that a scripted board drives: every line of the trace, the counts, and
// a file that cannot be opened or written.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "keyboard/keyboard_service.h"
#include "link/observer_list.h"
#include "session/link_stats.h"
#include "session/trace_writer.h"
#include "tests/support/core_fixture.h"

namespace {

using testsupport::Bytes;
using testsupport::Cat;
using testsupport::RequestBytes;

Bytes Corrupt(Bytes packet) {
  packet[6] ^= 0x01;
  return packet;
}

class TraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char path[] = "/tmp/consolew-trace-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    Path = path;
    std::string error;
    ASSERT_TRUE(Trace.Open(Path, false, error)) << error;
    Observers.Add(&Stats);
    Observers.Add(&Trace);
    Core.Link.Observer = &Observers;
    Core.Loop.SetHandler(0x16, [this] { keyboard::KeyboardService(Core.Link, Keyboard); });
  }
  void TearDown() override { ::unlink(Path.c_str()); }

  std::string Written() {
    std::ifstream in(Path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  uint64_t Now = 7000000;  // microseconds of the writer's clock
  testsupport::TCore Core;
  keyboard::TKeyboard Keyboard;
  app::TLinkStats Stats;
  app::TTraceWriter Trace{[this] { return Now; }};
  wire::TObserverList Observers;
  std::string Path;
};

TEST_F(TraceTest, EveryEventOfTheLinkIsALineInOrder) {
  uint8_t page[512];
  for (size_t i = 0; i < sizeof page; ++i) page[i] = static_cast<uint8_t>(i);
  auto& board = Core.Board;
  board.Send(RequestBytes(0x0B, 0x1234, 0x5678, 0, 0x0042)).Ack();
  // The host waits for the next request: the handshake's lines are in the file.
  std::string atWait;
  board.Do([&] { atWait = Written(); });
  board.Send(Cat({{0x01, 0x02, 0x03}, RequestBytes(0x10, 0x0E41)}));  // noise, then teletype 'A'
  // A keyboard request with a bad checksum (its AH flipped to 00), sent again;
  // its reply refused once.
  board.Send(Corrupt(RequestBytes(0x16, 0x0100))).Send(RequestBytes(0x16, 0x0100)).Nak().Ack();
  // An upload whose first block arrives bad once.
  Bytes bad = testsupport::BlockBytes(page);
  bad[100] ^= 0x40;  // data byte 96 (0x60) loses 0x40: the bytes sum to C0
  board.Send(RequestBytes(0x7F, 0)).Ack().Send(bad);
  for (int i = 0; i < 8; ++i) board.Send(testsupport::BlockBytes(page));
  board.Ack();
  // A request bad three times is dropped (0E42 with its AH flipped to 0F).
  for (int i = 0; i < 3; ++i) board.Send(Corrupt(RequestBytes(0x10, 0x0E42)));
  // Half a request, then silence past the watchdog; later half another, and Disconnect.
  board.Do([this] { Now += 1234567; }).Send({0x77, 0x10}).Tick(20);
  board.Do([this] { Now += 1000000; }).Send({0x55, 0x77, 0x16});

  Trace.Start("connect COM1 /dev/pts/9");
  Core.Loop.Maincycle();
  Trace.Note("disconnect\nsecond line");

  EXPECT_EQ(Written(),
            "    0.000000 # connect COM1 /dev/pts/9\n"
            "    0.000000 < req   handshake AX=1234 BX=5678 CX=0000 DX=0042 | ping\n"
            "    0.000000 > ack\n"
            "    0.000000 > reply handshake AX=1234 BX=5678 CX=0000 DX=0042 Code=00 Flags=0000 | ping: options 0 none\n"
            "    0.000000 < ack\n"
            "    0.000000 < noise 3 bytes skipped looking for 0x77\n"
            "    0.000000 < req   video     AX=0E41 BX=0000 CX=0000 DX=0000 | teletype 'A'\n"
            "    0.000000 > ack\n"
            "    0.000000 < req   keyboard  AX=0000 BX=0000 CX=0000 DX=0000 | read key, checksum bad (sum FF)\n"
            "    0.000000 ! checksum bad on the req: its bytes sum to FF, not 00\n"
            "    0.000000 > nak\n"
            "    0.000000 < req   keyboard  AX=0100 BX=0000 CX=0000 DX=0000 | check key\n"
            "    0.000000 > ack\n"
            "    0.000000 > reply keyboard  AX=0100 BX=0000 CX=0000 DX=0000 Code=0A Flags=0041 | check key: no key\n"
            "    0.000000 < nak\n"
            "    0.000000 ! resend reply, try 2 of 3\n"
            "    0.000000 > reply keyboard  AX=0100 BX=0000 CX=0000 DX=0000 Code=0A Flags=0041 | check key: no key\n"
            "    0.000000 < ack\n"
            "    0.000000 < req   upload    AX=0000 BX=0000 CX=0000 DX=0000 | screen upload, 8 blocks\n"
            "    0.000000 > ack\n"
            "    0.000000 > reply upload    AX=0000 BX=0000 CX=0000 DX=0000 Code=0A Flags=0041 | screen upload: send 8 blocks\n"
            "    0.000000 < ack\n"
            "    0.000000 < block #0 of 8: 00 01 02 03 04 05 06 07 ..., checksum bad (sum C0)\n"
            "    0.000000 ! checksum bad on the block: its bytes sum to C0, not 00\n"
            "    0.000000 > nak\n"
            "    0.000000 < block #0 of 8: 00 01 02 03 04 05 06 07 ..., checksum ok\n"
            "    0.000000 > ack\n"
            "    0.000000 < block #1 of 8: 00 01 02 03 04 05 06 07 ..., checksum ok\n"
            "    0.000000 > ack\n"
            "    0.000000 < block #2 of 8: 00 01 02 03 04 05 06 07 ..., checksum ok\n"
            "    0.000000 > ack\n"
            "    0.000000 < block #3 of 8: 00 01 02 03 04 05 06 07 ..., checksum ok\n"
            "    0.000000 > ack\n"
            "    0.000000 < block #4 of 8: 00 01 02 03 04 05 06 07 ..., checksum ok\n"
            "    0.000000 > ack\n"
            "    0.000000 < block #5 of 8: 00 01 02 03 04 05 06 07 ..., checksum ok\n"
            "    0.000000 > ack\n"
            "    0.000000 < block #6 of 8: 00 01 02 03 04 05 06 07 ..., checksum ok\n"
            "    0.000000 > ack\n"
            "    0.000000 < block #7 of 8: 00 01 02 03 04 05 06 07 ..., checksum ok\n"
            "    0.000000 > ack\n"
            "    0.000000 > reply upload    AX=0000 BX=0000 CX=0000 DX=0000 Code=0A Flags=0041 | screen upload: screen taken\n"
            "    0.000000 < ack\n"
            "    0.000000 < req   video     AX=0F42 BX=0000 CX=0000 DX=0000 | get mode, checksum bad (sum 01)\n"
            "    0.000000 ! checksum bad on the req: its bytes sum to 01, not 00\n"
            "    0.000000 > nak\n"
            "    0.000000 < req   video     AX=0F42 BX=0000 CX=0000 DX=0000 | get mode, checksum bad (sum 01)\n"
            "    0.000000 ! checksum bad on the req: its bytes sum to 01, not 00\n"
            "    0.000000 > nak\n"
            "    0.000000 < req   video     AX=0F42 BX=0000 CX=0000 DX=0000 | get mode, checksum bad (sum 01)\n"
            "    0.000000 ! checksum bad on the req: its bytes sum to 01, not 00\n"
            "    0.000000 > nak\n"
            "    0.000000 ! request dropped after 3 bad tries\n"
            "    1.234567 ! abort by the watchdog: the board was silent for 2 s, the exchange is abandoned\n"
            "    2.234567 < noise 1 byte skipped looking for 0x77\n"
            "    2.234567 ! abort by Disconnect: the exchange is abandoned\n"
            "    2.234567 # disconnect\n"
            "    2.234567 # second line\n");

  EXPECT_EQ(atWait,
            "    0.000000 # connect COM1 /dev/pts/9\n"
            "    0.000000 < req   handshake AX=1234 BX=5678 CX=0000 DX=0042 | ping\n"
            "    0.000000 > ack\n"
            "    0.000000 > reply handshake AX=1234 BX=5678 CX=0000 DX=0042 Code=00 Flags=0000 | ping: options 0 none\n"
            "    0.000000 < ack\n");

  const app::TLinkCounts& c = Stats.Counts;
  EXPECT_EQ(c.Requests, (std::array<uint64_t, 6>{1, 1, 0, 1, 1, 0}));
  EXPECT_EQ(c.Replies, 4u);  // the handshake's, the keyboard's (its resend apart), the upload's two
  EXPECT_EQ(c.BlocksReceived, 8u);
  EXPECT_EQ(c.BlocksSent, 0u);
  EXPECT_EQ(c.NaksSent, 5u);
  EXPECT_EQ(c.NaksReceived, 1u);
  EXPECT_EQ(c.Resends, 1u);
  EXPECT_EQ(c.DroppedRequests, 1u);
  EXPECT_EQ(c.WatchdogAborts, 1u);
  EXPECT_EQ(c.DisconnectAborts, 1u);
  EXPECT_EQ(c.NoiseBytes, 4u);
  EXPECT_EQ(c.Errors(), 5u + 1u + 1u + 1u);
}

TEST_F(TraceTest, WhatIsGivenUpAndABlockFramedInsideItsDataAreLinesOfTheirOwn) {
  uint8_t page[512] = {0x11, 0x22};
  auto& board = Core.Board;
  // A reply the board refuses three times.
  board.Send(RequestBytes(0x16, 0x0100)).Nak().Nak().Nak();
  // A block the host sends (a stand-in disk service), refused three times.
  Core.Loop.SetHandler(0x13, [&] { Core.Link.SendBlock(page); });
  board.Send(RequestBytes(0x13, 0x0201, 0, 1)).Nak().Nak().Nak();
  // An upload: block #0 after a dropped byte, its length bytes 00 00 and the
  // head of the resend behind it (the first of its three tries); then bad
  // twice more; then the rest.
  wire::TSectorBlock inside{};
  std::memcpy(inside.Data, page, sizeof page);
  wire::SealPacket(&inside, sizeof inside);
  inside.Length = 0;
  inside.Checksum = 0;
  inside.Checksum = wire::PacketChecksum(&inside, sizeof inside);
  const auto* raw = reinterpret_cast<const uint8_t*>(&inside);
  Bytes bad = testsupport::BlockBytes(page);
  bad[300] ^= 0x01;
  board.Send(RequestBytes(0x7F, 0)).Ack().Send(Cat({{0x01}, Bytes(raw, raw + sizeof inside), {0x77, 0x04}}));
  board.Send(bad).Send(bad);
  for (int i = 1; i < 8; ++i) board.Send(testsupport::BlockBytes(page));
  board.Ack();

  Trace.Start("connect");
  Core.Loop.Maincycle();
  const std::string text = Written();
  for (const char* lines : {
           "    0.000000 < nak\n"
           "    0.000000 ! reply given up after 3 refusals\n",
           "    0.000000 < req   disk      AX=0201 BX=0000 CX=0001 DX=0000 | read C0 H0 S1 x1\n"
           "    0.000000 > ack\n"
           "    0.000000 > block #0 of 1: 11 22 00 00 00 00 00 00 ..., checksum ok\n"
           "    0.000000 < nak\n"
           "    0.000000 ! resend block, try 2 of 3\n",
           "    0.000000 ! resend block, try 3 of 3\n"
           "    0.000000 > block #0 of 1: 11 22 00 00 00 00 00 00 ..., checksum ok\n"
           "    0.000000 < nak\n"
           "    0.000000 ! block #0 given up after 3 refusals\n",
           "    0.000000 < noise 1 byte skipped looking for 0x77\n"
           "    0.000000 < block #0 of 8: 11 22 00 00 00 00 00 00 ..., checksum ok but length bytes 00 00\n"
           "    0.000000 ! the block was framed inside its own data (length bytes not 04 02)\n"
           "    0.000000 > nak\n"
           "    0.000000 < noise 2 unread bytes dropped after the refused block\n"
           "    0.000000 < block #0 of 8: 11 22 00 00 00 00 00 00 ..., checksum bad (sum 01)\n",
           "    0.000000 > nak\n"
           "    0.000000 ! block #0 still bad after 3 tries, given up\n"
           "    0.000000 < block #1 of 8: 11 22 00 00 00 00 00 00 ..., checksum ok\n",
           "    0.000000 < block #7 of 8: 11 22 00 00 00 00 00 00 ..., checksum ok\n"
           "    0.000000 > ack\n"
           "    0.000000 > reply upload    AX=0000 BX=0000 CX=0000 DX=0000 Code=0A Flags=0041 | screen upload: screen taken\n"}) {
    EXPECT_NE(text.find(lines), std::string::npos) << lines << "\nin:\n" << text;
  }
  EXPECT_EQ(Stats.Counts.GivenUp, 3u);
  EXPECT_EQ(Stats.Counts.NaksReceived, 6u);
  EXPECT_EQ(Stats.Counts.Resends, 4u);
  EXPECT_EQ(Stats.Counts.NaksSent, 3u);
  EXPECT_EQ(Stats.Counts.NoiseBytes, 3u);
  EXPECT_EQ(Stats.Counts.BlocksSent, 1u);
  EXPECT_EQ(Stats.Counts.BlocksReceived, 7u);
}

TEST_F(TraceTest, DataShowsEachBlocksBytesUnderItsLine) {
  std::string error;
  ASSERT_TRUE(Trace.Open(Path, true, error));
  uint8_t page[512];
  for (size_t i = 0; i < sizeof page; ++i) page[i] = static_cast<uint8_t>(i * 7);
  Core.Board.Send(RequestBytes(0x7F, 0)).Ack();
  for (int i = 0; i < 8; ++i) Core.Board.Send(testsupport::BlockBytes(page));
  Core.Board.Ack();
  Trace.Start("connect");
  Core.Loop.Maincycle();
  const std::string text = Written();
  // Eight blocks of 32 lines of 16 bytes, each under its block line.
  const size_t first = text.find("< block #0 of 8:");
  ASSERT_NE(first, std::string::npos) << text;
  const size_t hex = text.find('\n', first) + 1;
  EXPECT_EQ(text.substr(hex, 87),
            "               000: 00 07 0E 15 1C 23 2A 31 38 3F 46 4D 54 5B 62 69\n"
            "               010:");
  EXPECT_NE(text.find("               1F0: 90 97 9E A5 AC B3 BA C1 C8 CF D6 DD E4 EB F2 F9\n"
                      "    0.000000 > ack\n"
                      "    0.000000 < block #1 of 8:"),
            std::string::npos)
      << text;
  size_t lines = 0;
  for (size_t at = text.find("               1F0:"); at != std::string::npos; at = text.find("               1F0:", at + 1)) ++lines;
  EXPECT_EQ(lines, 8u);
}

TEST(TraceFile, ThatCannotBeOpenedOrWrittenIsReportedOnce) {
  app::TTraceWriter trace{[] { return uint64_t{0}; }};
  std::string error;
  EXPECT_FALSE(trace.Open("/no/such/dir/wire.trace", false, error));
  EXPECT_EQ(error, "/no/such/dir/wire.trace: No such file or directory");

  ASSERT_TRUE(trace.Open("/dev/full", false, error)) << error;
  std::vector<std::string> reports;
  trace.OnWriteError = [&](const std::string& why) { reports.push_back(why); };
  trace.Start("connect");
  const Bytes request = RequestBytes(0x10, 0x0E41);
  trace.PacketReceived(request.data(), request.size(), wire::TRxVerdict::Good, wire::kAck);
  trace.Idle();
  trace.Note("disconnect");
  EXPECT_EQ(reports, std::vector<std::string>{"No space left on device"});
  EXPECT_EQ(trace.WriteError(), "No space left on device");
}

TEST(LinkStats, TheTextsForEveryFrontEnd) {
  app::TLinkCounts c;
  EXPECT_EQ(app::FormatStatsWord(c), "");  // nothing before the first request
  EXPECT_EQ(app::FormatStatsLine(c), "req 0");
  c.Requests = {1, 540, 3, 101, 0, 2};
  c.Replies = 105;
  c.BlocksSent = 24;
  EXPECT_EQ(app::FormatStatsWord(c), "647 req");
  EXPECT_EQ(app::FormatStatsLine(c), "req 647: hs 1 vid 540 dsk 3 kbd 101 unk 2 | rep 105 | blk out 24");
  c.NaksReceived = 2;
  c.WatchdogAborts = 1;
  c.NoiseBytes = 37;  // not an error: a board that resets sends some
  c.DroppedKeys = 4;
  EXPECT_EQ(app::FormatStatsWord(c), "647 req 3 err");
  EXPECT_EQ(app::FormatStats(c),
            "Link statistics since Connect\n"
            "Requests: 647 (handshake 1, video 540, disk 3, keyboard 101, upload 0, unknown 2)\n"
            "Replies sent: 105\n"
            "Blocks received: 0\n"
            "Blocks sent: 24\n"
            "NAKs sent: 0\n"
            "NAKs received: 2\n"
            "Resends: 0\n"
            "Dropped requests: 0\n"
            "Replies or blocks given up: 0\n"
            "Watchdog aborts: 1\n"
            "Disconnect aborts: 0\n"
            "Noise bytes: 37\n"
            "Port lost: 0\n"
            "Dropped keys: 4");
}

}  // namespace
