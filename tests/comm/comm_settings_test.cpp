#include "comm/comm.h"

#include <gtest/gtest.h>

#include "tests/support/param_names.h"
#include <termios.h>

#include <cerrno>
#include <functional>
#include <vector>

#include "comm/posix_termios.h"
#include "comm_test_support.h"

namespace comm {
namespace {

using commtest::TPtyPair;

class CommSettings : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.Ok());
    port.SetDeviceName(pty.SlavePath());
    port.SetMonitorEvents(0);
  }
  termios Line() {
    termios t{};
    EXPECT_EQ(tcgetattr(pty.Slave(), &t), 0);
    return t;
  }
  uint32_t LineRate() {
    TDeviceControlBlock dcb;
    EXPECT_TRUE(ReadLineSettings(pty.Slave(), dcb));
    return dcb.BaudRate;
  }
  // Changes the line behind the component's back.
  void ForceLineTo300() {
    termios t = Line();
    cfsetspeed(&t, B300);
    ASSERT_EQ(tcsetattr(pty.Slave(), TCSANOW, &t), 0);
  }

  TPtyPair pty;
  TComm port;
};

TEST(CommInitial, ValuesOfANewComponent) {
  TComm port;
  EXPECT_EQ(port.DeviceName(), "Com2");
  EXPECT_EQ(port.ReadTimeout(), 1000);
  EXPECT_EQ(port.WriteTimeout(), 1000);
  EXPECT_EQ(port.ReadBufSize(), 4096);
  EXPECT_EQ(port.WriteBufSize(), 2048);
  EXPECT_EQ(port.SuspendTime(), 5u);
  EXPECT_EQ(port.MonitorEvents(), 0x1FF);
  EXPECT_EQ(port.BaudRate(), br9600);
  EXPECT_EQ(port.Parity(), paNone);
  EXPECT_EQ(port.StopBits(), sb10);
  EXPECT_EQ(port.DataBits(), da8);
  EXPECT_EQ(port.Options(), 0);
  EXPECT_EQ(port.FlowControl(), fcDefault);
  EXPECT_EQ(port.UserBaud(), 0);
  EXPECT_EQ(port.EventChars().XOnChar(), 17);
  EXPECT_EQ(port.EventChars().XOffChar(), 19);
  EXPECT_EQ(port.EventChars().ErrorChar(), 0);
  EXPECT_FALSE(port.Enabled());
}

TEST(CommInitial, UserBaudSwitchesToUserRateOnlyWhenItChanges) {
  TComm port;
  port.SetUserBaud(0);
  EXPECT_EQ(port.BaudRate(), br9600);
  port.SetUserBaud(250000);
  EXPECT_EQ(port.BaudRate(), brUSER);
  EXPECT_EQ(port.UserBaud(), 250000);
}

TEST_F(CommSettings, DeviceLevelSettingsAreFrozenWhileOpen) {
  port.Open();
  ASSERT_TRUE(port.Enabled());
  port.SetDeviceName("COM1");
  port.SetReadBufSize(100);
  port.SetWriteBufSize(100);
  port.SetSuspendTime(99);
  port.SetMonitorEvents(EventSetOf(evBreak));
  EXPECT_EQ(port.DeviceName(), pty.SlavePath());
  EXPECT_EQ(port.ReadBufSize(), 4096);
  EXPECT_EQ(port.WriteBufSize(), 2048);
  EXPECT_EQ(port.SuspendTime(), 5u);
  EXPECT_EQ(port.MonitorEvents(), 0);
  port.Close();
  port.SetReadBufSize(100);
  EXPECT_EQ(port.ReadBufSize(), 100);
}

TEST_F(CommSettings, OpenWritesTheLineSettingsAndTimeouts) {
  port.SetBaudRate(br115200);
  port.Open();
  ASSERT_TRUE(port.Enabled());
  const termios t = Line();
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);  // raw
  EXPECT_EQ(port.CommTimeouts().ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(port.CommTimeouts().ReadTotalTimeoutConstant, 1000u);
  EXPECT_EQ(port.CommTimeouts().WriteTotalTimeoutMultiplier, 1600u);
  EXPECT_EQ(port.DataControlBlock().XonLim, 1024);
}

struct TFramingCase {
  uint8_t parity, stop_bits, byte_size;
  tcflag_t flags;
};

class FramingFlagsTable : public ::testing::TestWithParam<TFramingCase> {};

TEST_P(FramingFlagsTable, ParitySizeAndStopBitsAsTermiosFlags) {
  TDeviceControlBlock dcb;
  dcb.Parity = GetParam().parity;
  dcb.StopBits = GetParam().stop_bits;
  dcb.ByteSize = GetParam().byte_size;
  EXPECT_EQ(FramingFlags(dcb), GetParam().flags);
}

INSTANTIATE_TEST_SUITE_P(
    Framings, FramingFlagsTable,
    ::testing::Values(TFramingCase{0, 0, 8, CS8}, TFramingCase{1, 0, 7, CS7 | PARENB | PARODD},
                      TFramingCase{2, 2, 8, CS8 | PARENB | CSTOPB},
                      TFramingCase{3, 0, 6, CS6 | PARENB | PARODD | CMSPAR},
                      TFramingCase{4, 2, 5, CS5 | PARENB | CMSPAR | CSTOPB}), testsupport::TIndexName());

struct TLineCase {
  TBaudRate rate;
  TStopBits stop;
  speed_t speed;
  bool two_stop_bits;
};

class CommLineSettings : public CommSettings, public ::testing::WithParamInterface<TLineCase> {};

TEST_P(CommLineSettings, ReachTheDeviceWhileOpen) {
  port.Open();
  ASSERT_TRUE(port.Enabled());
  port.SetBaudRate(GetParam().rate);
  port.SetStopBits(GetParam().stop);
  const termios t = Line();
  EXPECT_EQ(cfgetospeed(&t), GetParam().speed);
  EXPECT_EQ((t.c_cflag & CSTOPB) != 0, GetParam().two_stop_bits);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
}

INSTANTIATE_TEST_SUITE_P(Lines, CommLineSettings,
                         ::testing::Values(TLineCase{br115200, sb10, B115200, false},
                                           TLineCase{br9600, sb20, B9600, true},
                                           TLineCase{br19200, sb10, B19200, false},
                                           TLineCase{br2400, sb20, B2400, true},
                                           TLineCase{br921600, sb10, B921600, false}), testsupport::TIndexName());

// A pseudo-terminal always frames 8 bits without parity (its driver resets the rest):
// asking for anything else is reported like any other framing the device cannot do.
TEST_F(CommSettings, FramingThePseudoTerminalCannotDoIsRefused) {
  port.Open();
  ASSERT_TRUE(port.Enabled());
  const std::vector<std::function<void()>> changes = {
      [&] { port.SetParity(paOdd); }, [&] { port.SetParity(paMark); },
      [&] { port.SetDataBits(da7); }};
  for (const auto& change : changes) {
    try {
      change();
      ADD_FAILURE() << "no error";
    } catch (const ECommError& e) {
      EXPECT_EQ(e.ErrorCode(), EINVAL);
    }
    port.SetParity(paNone);
    port.SetDataBits(da8);
  }
  const termios t = Line();
  EXPECT_EQ(t.c_cflag & (CSIZE | PARENB), static_cast<tcflag_t>(CS8));
}

TEST_F(CommSettings, RatesWithoutAStandardCodeReachTheDevice) {
  port.SetBaudRate(br56000);
  port.Open();
  ASSERT_TRUE(port.Enabled());
  EXPECT_EQ(LineRate(), 56000u);
  port.SetUserBaud(128000);
  EXPECT_EQ(port.BaudRate(), brUSER);
  EXPECT_EQ(LineRate(), 128000u);
  port.SetBaudRate(br256000);
  EXPECT_EQ(LineRate(), 256000u);
}

TEST_F(CommSettings, UnsupportedLineRaisesAndKeepsTheNewValue) {
  port.SetBaudRate(br115200);
  port.Open();
  ASSERT_TRUE(port.Enabled());
  try {
    port.SetStopBits(sb15);
    FAIL() << "no error";
  } catch (const ECommError& e) {
    EXPECT_EQ(e.ErrorCode(), EINVAL);
    EXPECT_STREQ(e.what(), "Error updating DataControlBlock (Error: 22)");
  }
  EXPECT_EQ(port.StopBits(), sb15);
  const termios t = Line();
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));  // device left as it was
  EXPECT_THROW(port.SetDataBits(da4), ECommError);
  EXPECT_TRUE(port.Enabled());
}

TEST_F(CommSettings, UserRateZeroIsRefused) {
  port.Open();
  ASSERT_TRUE(port.Enabled());
  EXPECT_THROW(port.SetBaudRate(brUSER), ECommError);  // UserBaud is 0
}

TEST_F(CommSettings, FailedOpenLeavesThePortClosed) {
  port.SetDataBits(da4);  // stored only while closed
  try {
    port.Open();
    FAIL() << "no error";
  } catch (const ECommError& e) {
    EXPECT_EQ(e.ErrorCode(), EINVAL);
  }
  EXPECT_FALSE(port.Enabled());
  EXPECT_EQ(port.Read(nullptr, 0), -1);
  TComm other;  // the device was released
  other.SetDeviceName(pty.SlavePath());
  other.Open();
  EXPECT_TRUE(other.Enabled());
}

TEST_F(CommSettings, SettingTheCurrentValueTouchesNothing) {
  port.SetBaudRate(br115200);
  port.Open();
  ASSERT_TRUE(port.Enabled());
  ForceLineTo300();
  port.SetBaudRate(br115200);
  port.SetParity(paNone);
  port.SetFlowControl(fcDefault);
  EXPECT_EQ(LineRate(), 300u);
  port.SetFlowControl(fcNone);  // a change re-applies everything
  EXPECT_EQ(LineRate(), 115200u);
}

TEST_F(CommSettings, ParityCheckOptionTurnsOnInputChecking) {
  port.Open();
  ASSERT_TRUE(port.Enabled());
  EXPECT_EQ(Line().c_iflag & INPCK, 0u);
  port.SetOptions(OptionSetOf(coParityCheck));
  EXPECT_NE(Line().c_iflag & INPCK, 0u);
  EXPECT_TRUE(port.DataControlBlock().fParity);
}

TEST_F(CommSettings, SettersWhileClosedDoNotTouchTheDevice) {
  port.SetBaudRate(br115200);
  port.Open();
  port.Close();
  ForceLineTo300();
  port.SetBaudRate(br57600);
  EXPECT_EQ(LineRate(), 300u);
  port.Open();
  EXPECT_EQ(LineRate(), 57600u);
}

}  // namespace
}  // namespace comm
