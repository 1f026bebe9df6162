#include "comm/comm_event_chars.h"

#include <gtest/gtest.h>
#include <termios.h>

#include "comm/comm.h"
#include "comm/posix_termios.h"
#include "comm_test_support.h"

namespace comm {
namespace {

TEST(CommEventChars, StandAloneCharactersByIndex) {
  TCommEventChars chars;
  chars.SetByIndex(1, 'a');
  chars.SetByIndex(2, 'b');
  chars.SetByIndex(3, 'c');
  chars.SetByIndex(4, 'd');
  chars.SetByIndex(5, 'e');
  chars.SetByIndex(6, 'x');
  chars.SetByIndex(-1, 'x');
  EXPECT_EQ(chars.XOnChar(), 'a');
  EXPECT_EQ(chars.XOffChar(), 'b');
  EXPECT_EQ(chars.ErrorChar(), 'c');
  EXPECT_EQ(chars.EofCharc(), 'd');
  EXPECT_EQ(chars.EvtChar(), 'e');
}

TEST(CommEventChars, AssignCopiesAllFive) {
  TCommEventChars source;
  source.SetByIndex(1, 1);
  source.SetByIndex(5, 5);
  TCommEventChars target;
  target.Assign(source);
  EXPECT_EQ(target.XOnChar(), 1);
  EXPECT_EQ(target.XOffChar(), 19);
  EXPECT_EQ(target.EvtChar(), 5);
}

class CommEventCharsOnPort : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.Ok());
    port.SetDeviceName(pty.SlavePath());
    port.SetMonitorEvents(0);
    port.SetBaudRate(br115200);
    port.Open();
    ASSERT_TRUE(port.Enabled());
  }
  termios Line() {
    termios t{};
    EXPECT_EQ(tcgetattr(pty.Slave(), &t), 0);
    return t;
  }
  void ForceLineTo300() {
    termios t = Line();
    cfsetspeed(&t, B300);
    ASSERT_EQ(tcsetattr(pty.Slave(), TCSANOW, &t), 0);
  }
  commtest::TPtyPair pty;
  TComm port;
};

TEST_F(CommEventCharsOnPort, SettingACharacterReachesTheDevice) {
  EXPECT_EQ(Line().c_cc[VSTART], 17);
  port.EventChars().SetByIndex(1, 'A');
  port.EventChars().SetByIndex(2, 'B');
  EXPECT_EQ(Line().c_cc[VSTART], 'A');
  EXPECT_EQ(Line().c_cc[VSTOP], 'B');
  EXPECT_EQ(port.DataControlBlock().XonChar, 'A');
}

TEST_F(CommEventCharsOnPort, IndexZeroChangesNothingButReappliesTheSettings) {
  ForceLineTo300();
  port.EventChars().SetByIndex(0, 'Z');
  EXPECT_EQ(port.EventChars().XOnChar(), 17);
  EXPECT_EQ(port.EventChars().XOffChar(), 19);
  const termios t = Line();
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
}

TEST_F(CommEventCharsOnPort, AssignDoesNotTouchTheDevice) {
  TCommEventChars source;
  source.SetByIndex(1, 'Q');
  ForceLineTo300();
  port.EventChars().Assign(source);
  EXPECT_EQ(port.EventChars().XOnChar(), 'Q');
  const termios t = Line();
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B300));
  EXPECT_EQ(t.c_cc[VSTART], 17);
}

}  // namespace
}  // namespace comm
