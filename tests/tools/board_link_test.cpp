// The board's link and BIOS calls against a small console on a socket pair.
#include "tools/board_link.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <numeric>

#include "tests/tools/fake_host.h"
#include "tools/board_bios.h"

namespace boardsim {
namespace {

using namespace std::chrono_literals;
using boardsim_test::TFakeHost;

// Packed wire fields are compared by value, never bound to a reference.
template <typename T>
T Value(T v) {
  return v;
}

class BoardLinkTest : public ::testing::Test {
 protected:
  void Start(TFaultConfig faults = {}, std::chrono::milliseconds ackTimeout = 300ms) {
    Faults = TFaultInjector(faults);
    TLinkConfig c;
    c.AckTimeout = ackTimeout;
    Link.emplace(Host.BoardFd(), Clock, Pacer, Faults, c);
    Bios.emplace(*Link, Page);
    Host.Start();
  }
  // The host's records are read once its thread has ended.
  void StopHost() { Host.Stop(); }

  TFakeHost Host;
  TSystemClock Clock;
  TPacer Pacer{Clock, 0};
  TFaultInjector Faults;
  std::optional<TBoardLink> Link;
  TTextPage Page;
  std::optional<TBoardBios> Bios;
};

TEST_F(BoardLinkTest, HandshakeEchoesTheProbeAndBringsTheOptions) {
  Host.Options = 5;
  Start();
  const auto options = Bios->Handshake({0x1234, 0x5678, 0, 0x0042});
  ASSERT_TRUE(options);
  EXPECT_EQ(*options, 5);
  StopHost();
  ASSERT_EQ(Host.Requests.size(), 1u);
  EXPECT_EQ(Value(Host.Requests[0].Service), 0x0B);
  EXPECT_EQ(Value(Host.Requests[0].AX), 0x1234);
  EXPECT_EQ(Value(Host.Requests[0].Length), 13);
  EXPECT_EQ(Link->Stats().Resends, 0u);
}

TEST_F(BoardLinkTest, RefusedRequestsAreSentAgain) {
  Host.NakFirstRequests = 2;
  Start();
  EXPECT_EQ(Link->SendRequest(MakeRequest(0x10, {0x0E41, 0, 0, 0})), TLinkStatus::Ok);
  StopHost();
  EXPECT_EQ(Link->Stats().Resends, 2u);
  EXPECT_EQ(Link->Stats().NaksReceived, 2u);
  EXPECT_EQ(Host.Requests.size(), 1u);
}

TEST_F(BoardLinkTest, SilenceEndsAfterThreeTries) {
  Host.IgnoreFirstRequests = 100;
  Start({}, 40ms);
  EXPECT_EQ(Link->SendRequest(MakeRequest(0x10, {0x0E41, 0, 0, 0})), TLinkStatus::Timeout);
  EXPECT_EQ(Link->Stats().Timeouts, 3u);
  EXPECT_EQ(Link->Stats().Resends, 2u);
}

TEST_F(BoardLinkTest, ABadReplyIsRefusedAndTheResendTaken) {
  Host.CorruptFirstReplies = 1;
  Host.Keys = {0x1E61};
  Start();
  uint16_t code = 0;
  EXPECT_EQ(Bios->CheckKey(code), TKeyState::Key);
  EXPECT_EQ(code, 0x1E61);
  StopHost();
  EXPECT_EQ(Link->Stats().NaksSent, 1u);
  EXPECT_EQ(Host.BoardNaks, 1);
}

TEST_F(BoardLinkTest, NakEveryNthPacketStillCompletesTheCalls) {
  TFaultConfig f;
  f.NakEvery = 2;
  Host.Keys = {0x011B, 0x1C0D};
  Start(f);
  EXPECT_EQ(Bios->ReadKey(), 0x011B);
  EXPECT_EQ(Bios->ReadKey(), 0x1C0D);
  StopHost();
  EXPECT_EQ(Host.BoardNaks, 1);  // the second reply was refused once
  EXPECT_EQ(Faults.Stats().NaksInjected, 1u);
}

TEST_F(BoardLinkTest, KeyboardCalls) {
  Host.Shift = 0x0C;
  Host.RefreshPending = true;
  Start();
  uint16_t code = 0;
  EXPECT_EQ(Bios->CheckKey(code), TKeyState::Refresh);
  EXPECT_EQ(Bios->CheckKey(code), TKeyState::None);
  EXPECT_EQ(Bios->ShiftFlags(), 0x0C);
}

TEST_F(BoardLinkTest, DiskReadBringsTheImageBytes) {
  Host.Image.resize(1474560);
  std::iota(Host.Image.begin(), Host.Image.end(), uint8_t{0});
  for (size_t i = 0; i < Host.Image.size(); i += 512) Host.Image[i] = static_cast<uint8_t>(i / 512);
  Start();
  std::vector<uint8_t> out(18 * 512);
  const TDiskResult r = Bios->ReadSectors(1, 1, 1, 18, out);  // track 3
  EXPECT_TRUE(r.Ok());
  EXPECT_TRUE(std::equal(out.begin(), out.end(), Host.Image.begin() + 3 * 9216));
}

TEST_F(BoardLinkTest, DiskWriteLandsInTheImage) {
  Host.Image.assign(1474560, 0);
  Start();
  std::vector<uint8_t> data(2 * 512);
  std::iota(data.begin(), data.end(), uint8_t{7});
  const TDiskResult r = Bios->WriteSectors(0, 1, 3, 2, data);
  EXPECT_TRUE(r.Ok());
  StopHost();
  EXPECT_TRUE(std::equal(data.begin(), data.end(), Host.Image.begin() + 9216 + 2 * 512));
  EXPECT_EQ(Host.Image[9216 + 2 * 512 - 1], 0);
}

TEST_F(BoardLinkTest, DiskWithoutImageReportsTheError) {
  Start();
  std::vector<uint8_t> out(512);
  const TDiskResult r = Bios->ReadSectors(0, 0, 1, 1, out);
  EXPECT_TRUE(r.Linked);
  EXPECT_EQ(r.Status, 1);
  EXPECT_TRUE(r.Carry);
  EXPECT_FALSE(r.Ok());
}

TEST_F(BoardLinkTest, UploadSendsTheBoardsPage) {
  Start();
  ASSERT_TRUE(Bios->Handshake({1, 2, 0, 3}));
  Bios->SetCursor(10, 10);
  Bios->WriteCharAttr(0xC9, 0x1E, 5);
  Bios->Teletype('!');
  ASSERT_TRUE(Bios->Upload());
  StopHost();
  ASSERT_EQ(Host.Uploaded.size(), 4096u);
  EXPECT_TRUE(std::equal(Host.Uploaded.begin(), Host.Uploaded.end(), Page.Data().begin()));
  EXPECT_EQ(Host.Uploaded[(10 * 80 + 10) * 2], 0xC9);
  EXPECT_EQ(Host.Uploaded[(10 * 80 + 15) * 2], '!');
}

TEST_F(BoardLinkTest, VideoCallsCarryTheRegisters) {
  Start();
  ASSERT_TRUE(Bios->Handshake({1, 2, 0, 3}));
  Bios->SetCursor(7, 9);
  Bios->WriteCharAttr('x', 0x2F, 3);
  Bios->ScrollUp(1, 2, 30, 12, 0, 0x17);
  StopHost();
  ASSERT_EQ(Host.Requests.size(), 4u);
  EXPECT_EQ(Value(Host.Requests[1].AX), 0x0200);
  EXPECT_EQ(Value(Host.Requests[1].DX), 0x0907);
  EXPECT_EQ(Value(Host.Requests[2].AX), 0x0978);
  EXPECT_EQ(Value(Host.Requests[2].BX), 0x002F);
  EXPECT_EQ(Value(Host.Requests[2].CX), 3);
  EXPECT_EQ(Value(Host.Requests[3].AX), 0x0600);
  EXPECT_EQ(Value(Host.Requests[3].BX), 0x1700);
  EXPECT_EQ(Value(Host.Requests[3].CX), 0x0201);
  EXPECT_EQ(Value(Host.Requests[3].DX), 0x0C1E);
}

TEST_F(BoardLinkTest, NoVideoOptionMeansNoVideoRequests) {
  Host.Options = 1;
  Start();
  ASSERT_TRUE(Bios->Handshake({1, 2, 0, 3}));
  Bios->Teletype('a');
  EXPECT_EQ(Page.Char(0, 0), 'a');  // the board's own screen still shows it
  StopHost();
  EXPECT_EQ(Host.Requests.size(), 1u);
}

TEST_F(BoardLinkTest, AVanishedHostEndsTheLinkCleanly) {
  Host.CloseAfterRequests = 1;
  Start();
  ASSERT_TRUE(Bios->Handshake({1, 2, 0, 3}));
  EXPECT_THROW(
      {
        for (int i = 0; i < 10; ++i) Link->SendRequest(MakeRequest(0x10, {0x0E41, 0, 0, 0}));
      },
      TLinkClosed);
}

TEST_F(BoardLinkTest, OneBitErrorsAreAllCaughtAndRepaired) {
  TFaultConfig f;
  f.BitErrorRate = 2e-5;  // about one block in twelve
  f.OneBitPerPacket = true;
  f.Seed = 11;
  Host.Image.resize(1474560);
  std::iota(Host.Image.begin(), Host.Image.end(), uint8_t{3});
  Start(f);
  std::vector<uint8_t> out(18 * 512);
  for (uint8_t track = 0; track < 4; ++track) {
    const TDiskResult r = Bios->ReadSectors(track / 2, track % 2, 1, 18, out);
    ASSERT_TRUE(r.Ok());
    EXPECT_TRUE(std::equal(out.begin(), out.end(), Host.Image.begin() + track * 9216));
  }
  EXPECT_GT(Faults.Stats().BitsFlipped, 0u);
  EXPECT_GT(Link->Stats().NaksSent, 0u);
}

}  // namespace
}  // namespace boardsim

namespace boardsim {
namespace {

// A socket whose peer is gone: the write must fail into TLinkClosed, not raise
// SIGPIPE, which would end the whole program.
TEST(BoardLinkSocket, WritingToAClosedPeerThrowsInsteadOfRaisingSigpipe) {
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  ::shutdown(fds[1], SHUT_RD);  // the peer takes nothing more, but the line stays up
  TSystemClock clock;
  TPacer pacer{clock, 0};
  TFaultInjector faults;
  TBoardLink link(fds[0], clock, pacer, faults, TLinkConfig{});
  EXPECT_THROW(link.SendRequest(MakeRequest(0x10, {0x0E41, 0, 0, 0})), TLinkClosed);
  ::close(fds[0]);
  ::close(fds[1]);
}

}  // namespace
}  // namespace boardsim
