// The board's applications against a small console on a socket pair.
#include "tools/board_app.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <numeric>
#include <sstream>

#include "tests/tools/fake_host.h"
#include "tests/tools/fat_image.h"

namespace boardsim {
namespace {

using namespace std::chrono_literals;
using boardsim_test::TFakeHost;

std::string TempPath(const char* tag) {
  return ::testing::TempDir() + "boardsim_" + tag + "_" + std::to_string(::getpid()) + ".img";
}

std::string PageText(const std::vector<uint8_t>& page) {
  std::string text;
  for (size_t i = 0; i + 1 < 4000; i += 2) text.push_back(static_cast<char>(page[i]));
  return text;
}

class BoardAppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TAppConfig c;
    c.KeyPoll = 1ms;
    c.HandshakeRetry = 10ms;
    c.Timeout = 5s;
    TLinkConfig l;
    l.AckTimeout = 300ms;
    Link.emplace(Host.BoardFd(), Clock, Pacer, Faults, l);
    App.emplace(*Link, Clock, Results, Log, c);
  }

  TFakeHost Host;
  TSystemClock Clock;
  TPacer Pacer{Clock, 0};
  TFaultInjector Faults;
  std::optional<TBoardLink> Link;
  std::ostringstream Results, Log;
  std::optional<TBoardApp> App;
};

TEST_F(BoardAppTest, ReadImageCopiesTheWholeDiskette) {
  Host.Image = boardsim_test::MakeFloppy({{"README  TXT", 100}});
  for (size_t i = 9216; i < Host.Image.size(); ++i) Host.Image[i] = static_cast<uint8_t>(i * 7);
  Host.Start();
  const std::string out = TempPath("read");
  EXPECT_EQ(App->ReadImage(out), 0);
  std::ifstream f(out, std::ios::binary);
  const std::vector<uint8_t> copy((std::istreambuf_iterator<char>(f)), {});
  std::remove(out.c_str());
  EXPECT_EQ(copy, Host.Image);
  const std::string json = Results.str();
  EXPECT_NE(json.find("\"script\":\"read-image\",\"ok\":true,\"bytes\":1474560,\"tracks\":160"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("\"geometry_from_boot_sector\":true"), std::string::npos);
}

TEST_F(BoardAppTest, WriteImageReplacesTheServedDiskette) {
  Host.Image = boardsim_test::MakeFloppy({});
  auto source = boardsim_test::MakeFloppy({{"NEW     BIN", 5}});
  for (size_t i = 20000; i < 30000; ++i) source[i] = static_cast<uint8_t>(i);
  const std::string in = TempPath("write");
  std::ofstream(in, std::ios::binary)
      .write(reinterpret_cast<const char*>(source.data()), static_cast<std::streamsize>(source.size()));
  Host.Start();
  EXPECT_EQ(App->WriteImage(in), 0);
  std::remove(in.c_str());
  Host.Stop();
  EXPECT_EQ(Host.Image, source);
  EXPECT_NE(Results.str().find("\"ok\":true,\"bytes\":1474560"), std::string::npos)
      << Results.str();
}

TEST_F(BoardAppTest, RefusedWriteReportsWhy) {
  Host.Image = boardsim_test::MakeFloppy({});
  const std::vector<uint8_t> before = Host.Image;
  Host.WriteStatus = 0x03;
  const std::string in = TempPath("refused");
  std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char*>(before.data()), 9216);
  Host.Start();
  EXPECT_EQ(App->WriteImage(in), 1);
  std::remove(in.c_str());
  Host.Stop();
  EXPECT_EQ(Host.Image, before);
  EXPECT_NE(Results.str().find("\"ok\":false,\"bytes\":0,\"tracks\":0"), std::string::npos)
      << Results.str();
  EXPECT_NE(Results.str().find("\"error\":\"track 0 not written: status 0x03 (write protected)\""),
            std::string::npos)
      << Results.str();
}

TEST_F(BoardAppTest, PingReportsEveryRoundTrip) {
  Host.Start();
  EXPECT_EQ(App->Ping(25), 0);
  const std::string json = Results.str();
  EXPECT_NE(json.find("\"script\":\"ping\",\"ok\":true,\"count\":25,\"failed\":0"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("\"p99_us\":"), std::string::npos);
}

TEST_F(BoardAppTest, KeysCollectsTheCodesInOrder) {
  Host.Keys = {0x1E61, 0x4B00, 0x011B};
  Host.Start();
  EXPECT_EQ(App->Keys(3), 0);
  EXPECT_NE(Results.str().find("\"codes\":[\"1E61\",\"4B00\",\"011B\"]"), std::string::npos)
      << Results.str();
}

TEST_F(BoardAppTest, KeysGivesUpAtTheTimeout) {
  Host.Start();
  TAppConfig c;
  c.KeyPoll = 1ms;
  c.Timeout = 200ms;
  TBoardApp app(*Link, Clock, Results, Log, c);
  EXPECT_EQ(app.Keys(1), 1);
  EXPECT_NE(Results.str().find("\"ok\":false,\"count\":0"), std::string::npos);
}

TEST_F(BoardAppTest, DemoDrawsTheDesktopAndUploadsItOnRefresh) {
  Host.Image = boardsim_test::MakeFloppy({{"README  TXT", 1234}, {"GAME    EXE", 70000}});
  Host.RefreshPending = true;
  Host.CloseWhenIdleChecks = 2;
  Host.Start();
  EXPECT_EQ(App->RunDemo(), 0);  // the host hung up: a clean end
  Host.Stop();
  ASSERT_EQ(Host.Uploaded.size(), 4096u);
  EXPECT_TRUE(std::equal(Host.Uploaded.begin(), Host.Uploaded.end(), App->Page().Data().begin()));
  const std::string text = PageText(Host.Uploaded);
  EXPECT_NE(text.find("README.TXT"), std::string::npos);
  EXPECT_NE(text.find("GAME.EXE"), std::string::npos);
  EXPECT_NE(text.find("70000"), std::string::npos);
  EXPECT_NE(text.find("Nerova board simulator"), std::string::npos);
  EXPECT_EQ(App->Page().Char(1, 2), 0xC9);   // box corner
  EXPECT_EQ(App->Page().Attr(1, 2), 0x1E);
  EXPECT_EQ(App->Page().Char(38, 7), 0xBC);
}

TEST_F(BoardAppTest, DemoEchoesKeysAndRebootsOnCtrlAltDel) {
  Host.Keys = {0x2368, 0x1769, 0x4B00, 0x5300};
  Host.Shift = 0x0C;
  Host.CloseWhenIdleChecks = 1;
  Host.Start();
  EXPECT_EQ(App->RunDemo(), 0);
  Host.Stop();
  EXPECT_EQ(Host.Handshakes, 2);
  EXPECT_EQ(App->Boots(), 2u);
  std::string teletyped;
  for (const auto& r : Host.Requests)
    if (r.Service == 0x10 && wire::Hi(r.AX) == 0x0E) teletyped.push_back(static_cast<char>(r.AX));
  EXPECT_NE(teletyped.find("hi[4B00]\r\nCtrl+Alt+Del"), std::string::npos) << teletyped;
  EXPECT_NE(teletyped.find("rebooting"), std::string::npos);
}

TEST_F(BoardAppTest, DelWithoutCtrlAltIsJustAKey) {
  Host.Keys = {0x5300};
  Host.Shift = 0x04;  // Ctrl only
  Host.CloseWhenIdleChecks = 1;
  Host.Start();
  EXPECT_EQ(App->RunDemo(), 0);
  Host.Stop();
  EXPECT_EQ(Host.Handshakes, 1);
}

TEST_F(BoardAppTest, RebootInATransferIsSurvivedByReadImage) {
  TFaultConfig f;
  f.RebootInTransfer = 3;
  Faults = TFaultInjector(f);
  TLinkConfig l;
  l.AckTimeout = 300ms;
  l.StallTime = 50ms;  // the fake console has no watchdog to outwait
  TBoardLink link(Host.BoardFd(), Clock, Pacer, Faults, l);
  TAppConfig c;
  c.Timeout = 5s;
  TBoardApp app(link, Clock, Results, Log, c);
  Host.Image = boardsim_test::MakeFloppy({});
  for (size_t i = 9216; i < Host.Image.size(); ++i) Host.Image[i] = static_cast<uint8_t>(i * 3);
  Host.Start();
  const std::string out = TempPath("reboot");
  EXPECT_EQ(app.ReadImage(out), 0) << Results.str();
  std::ifstream in(out, std::ios::binary);
  const std::vector<uint8_t> copy((std::istreambuf_iterator<char>(in)), {});
  std::remove(out.c_str());
  EXPECT_EQ(copy, Host.Image);
  EXPECT_EQ(Faults.Stats().Reboots, 1u);
  EXPECT_EQ(app.Boots(), 2u);
}

}  // namespace
}  // namespace boardsim
