#include "comm/comm.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>
#include <cstdio>

#include "comm_test_support.h"

namespace comm {
namespace {

using commtest::TPtyPair;

class CommOpenClose : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.Ok());
    port.SetDeviceName(pty.SlavePath());
    port.SetMonitorEvents(0);
  }
  TPtyPair pty;
  TComm port;
};

TEST_F(CommOpenClose, OpenCloseAndReopen) {
  port.Open();
  EXPECT_TRUE(port.Enabled());
  EXPECT_EQ(port.LastOpenError().Error, 0);
  EXPECT_NE(port.EventThread(), nullptr);
  port.Close();
  EXPECT_FALSE(port.Enabled());
  EXPECT_EQ(port.EventThread(), nullptr);
  port.Close();  // nothing on a closed port
  port.Open();
  EXPECT_TRUE(port.Enabled());
  EXPECT_EQ(port.Write("hi", 2), 2);
  EXPECT_EQ(pty.Receive(2), (std::vector<unsigned char>{'h', 'i'}));
}

TEST_F(CommOpenClose, OpenOfAnOpenPortRaisesAndLeavesItOpen) {
  port.Open();
  ASSERT_TRUE(port.Enabled());
  try {
    port.Open();
    FAIL() << "no error";
  } catch (const ECommError& e) {
    EXPECT_EQ(e.ErrorCode(), -1);
    EXPECT_STREQ(e.what(), "Port already assigned (open) (Error: -1)");
  }
  EXPECT_THROW(port.CheckOpen(), ECommError);
  EXPECT_TRUE(port.Enabled());
  EXPECT_EQ(port.Write("x", 1), 1);
  EXPECT_EQ(pty.Receive(1), std::vector<unsigned char>{'x'});
}

TEST_F(CommOpenClose, CheckOpenIsQuietWhileClosed) { EXPECT_NO_THROW(port.CheckOpen()); }

TEST(CommOpenMissing, MissingDeviceLeavesThePortClosedWithoutError) {
  TComm port;
  port.SetDeviceName("/dev/no-such-serial-port");
  EXPECT_NO_THROW(port.Open());
  EXPECT_FALSE(port.Enabled());
  EXPECT_EQ(port.LastOpenError().Error, ENOENT);
  EXPECT_EQ(port.LastOpenError().Text, "/dev/no-such-serial-port: No such file or directory");
}

TEST(CommOpenMissing, EmptyNameLeavesThePortClosed) {
  TComm port;
  port.SetDeviceName("");
  EXPECT_NO_THROW(port.Open());
  EXPECT_FALSE(port.Enabled());
  EXPECT_EQ(port.LastOpenError().Text, "no device name given");
}

TEST(CommOpenMissing, AFileThatIsNoTerminalIsNotAPort) {
  char path[] = "/tmp/comm_test_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const int before = commtest::OpenDescriptors();
  TComm port;
  port.SetDeviceName(path);
  port.Open();
  EXPECT_FALSE(port.Enabled());
  EXPECT_EQ(port.LastOpenError().Error, ENOTTY);
  EXPECT_EQ(commtest::OpenDescriptors(), before);  // the handle was closed again
  ::close(fd);
  std::remove(path);
}

TEST_F(CommOpenClose, APortHeldByAnotherComponentCannotBeOpened) {
  port.Open();
  ASSERT_TRUE(port.Enabled());
  TComm other;
  other.SetDeviceName(pty.SlavePath());
  EXPECT_NO_THROW(other.Open());
  EXPECT_FALSE(other.Enabled());
  EXPECT_EQ(other.LastOpenError().Error, EWOULDBLOCK);
  EXPECT_NE(other.LastOpenError().Text.find("in use"), std::string::npos);
  port.Close();
  other.Open();
  EXPECT_TRUE(other.Enabled());
}

TEST_F(CommOpenClose, DestroyingAnOpenComponentReleasesThePort) {
  {
    TComm first;
    first.SetDeviceName(pty.SlavePath());
    first.Open();
    ASSERT_TRUE(first.Enabled());
  }
  port.Open();
  EXPECT_TRUE(port.Enabled());
}

TEST_F(CommOpenClose, RawModeIsSetBeforeAnyTraffic) {
  port.Open();
  ASSERT_TRUE(port.Enabled());
  ASSERT_TRUE(pty.Send("ab\r\x03"));
  ASSERT_TRUE(commtest::WaitFor([&] { return port.InQueCount() == 4; }));
  unsigned char got[8] = {};
  EXPECT_EQ(port.Read(got, sizeof got), 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(got), 4), "ab\r\x03");
  // No echo went back: the first byte the other end sees is ours.
  EXPECT_EQ(port.Write("Z", 1), 1);
  EXPECT_EQ(pty.Receive(1), std::vector<unsigned char>{'Z'});
}

}  // namespace
}  // namespace comm
