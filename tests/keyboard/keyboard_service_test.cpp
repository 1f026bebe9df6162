#include "keyboard/keyboard_service.h"

#include <gtest/gtest.h>

#include "tests/support/core_fixture.h"

namespace keyboard {
namespace {

using testsupport::Bytes;
using testsupport::Cat;
using testsupport::ReplyBytes;
using testsupport::RequestBytes;

constexpr uint16_t kCarry = wire::kFlagCarry;
constexpr uint16_t kZero = wire::kFlagZero;
constexpr uint16_t kBothBits = kCarry | kZero;

class KeyboardServiceTest : public ::testing::Test {
 protected:
  KeyboardServiceTest() {
    core.Loop.SetHandler(0x16, [this] { KeyboardService(core.Link, Kbd); });
  }

  // One keyboard request; returns everything the host wrote for it.
  Bytes Call(uint16_t ax, uint16_t bx = 0x1111, uint16_t cx = 0x2222, uint16_t dx = 0x3333) {
    core.Board.Send(RequestBytes(0x16, ax, bx, cx, dx)).Ack();
    core.Loop.Maincycle();
    core.Link.AbortRequested = 0;
    return core.Board.TakeWritten();
  }

  // What the host must write: the acknowledgement, then the reply.
  static Bytes Answer(uint16_t ax, uint16_t flags, uint16_t bx = 0x1111, uint16_t cx = 0x2222,
                      uint16_t dx = 0x3333) {
    return Cat({{wire::kAck}, ReplyBytes(kKeyboardReplyCode, ax, bx, cx, dx, flags)});
  }

  testsupport::TCore core;
  TKeyboard Kbd;
};

TEST_F(KeyboardServiceTest, ReadKeyOnEmptyQueue) {
  EXPECT_EQ(Call(0x0000), Answer(0x0000, kBothBits));
  EXPECT_EQ(Call(0x1000), Answer(0x0000, kBothBits));
}

TEST_F(KeyboardServiceTest, ReadKeyTakesTheOldestKey) {
  Kbd.PushKey(0x1E61);
  Kbd.PushKey(0x3062);
  EXPECT_EQ(Call(0x0000), Answer(0x1E61, kCarry));
  EXPECT_EQ(Kbd.KeyReadIndex, 1);
  EXPECT_EQ(Call(0x10AB), Answer(0x3062, kCarry));
  EXPECT_EQ(Call(0x0000), Answer(0x0000, kBothBits));
}

TEST_F(KeyboardServiceTest, ReadKeyNeverReportsRefresh) {
  Kbd.RefreshRequest = true;
  EXPECT_EQ(Call(0x0000), Answer(0x0000, kBothBits));
  EXPECT_TRUE(Kbd.RefreshRequest);
}

TEST_F(KeyboardServiceTest, CheckKeyOnEmptyQueueEchoesAX) {
  EXPECT_EQ(Call(0x0155), Answer(0x0155, kBothBits));
  EXPECT_EQ(Call(0x11AA), Answer(0x11AA, kBothBits));
}

TEST_F(KeyboardServiceTest, CheckKeyLeavesTheKeyQueued) {
  Kbd.PushKey(0x2E03);
  EXPECT_EQ(Call(0x0100), Answer(0x2E03, kCarry));
  EXPECT_EQ(Call(0x1100), Answer(0x2E03, kCarry));
  EXPECT_EQ(Kbd.QueueCount(), 1u);
  EXPECT_EQ(Call(0x0000), Answer(0x2E03, kCarry));
}

TEST_F(KeyboardServiceTest, RefreshIsReportedOncePerSetting) {
  Kbd.RefreshRequest = true;
  EXPECT_EQ(Call(0x0100), Answer(0x7F00, kCarry));
  EXPECT_FALSE(Kbd.RefreshRequest);
  EXPECT_EQ(Call(0x0100), Answer(0x0100, kBothBits));
  Kbd.RefreshRequest = true;  // the timer sets it again
  EXPECT_EQ(Call(0x1100), Answer(0x7F00, kCarry));
}

TEST_F(KeyboardServiceTest, WaitingKeyComesBeforeRefresh) {
  Kbd.RefreshRequest = true;
  Kbd.PushKey(0x1C0D);
  EXPECT_EQ(Call(0x0100), Answer(0x1C0D, kCarry));
  EXPECT_TRUE(Kbd.RefreshRequest);
  EXPECT_EQ(Call(0x0000), Answer(0x1C0D, kCarry));
  EXPECT_EQ(Call(0x0100), Answer(0x7F00, kCarry));
}

TEST_F(KeyboardServiceTest, GetShiftFlags) {
  Kbd.ShiftFlags = 0x21;
  EXPECT_EQ(Call(0x02FF), Answer(0x0221, kCarry));
  Kbd.PushKey(0x1E61);  // the queue makes no difference
  Kbd.ShiftFlags = 0x4C;
  EXPECT_EQ(Call(0x0200), Answer(0x024C, kCarry));
  EXPECT_EQ(Kbd.QueueCount(), 1u);
}

TEST_F(KeyboardServiceTest, OtherFunctionsEchoAX) {
  Kbd.PushKey(0x1E61);
  for (uint16_t ax : {0x0305, 0x0F00, 0x1234, 0x12FF, 0xFFFF}) {
    SCOPED_TRACE(ax);
    EXPECT_EQ(Call(ax), Answer(ax, kBothBits));
  }
  EXPECT_EQ(Kbd.QueueCount(), 1u);
}

TEST_F(KeyboardServiceTest, OtherFlagBitsKeepThePreviousReply) {
  core.Link.Reply.Flags = 0xFFFF;
  core.Link.Reply.Code = 0x33;
  EXPECT_EQ(Call(0x0200), Answer(0x0200, 0xFFBF));
  Kbd.PushKey(0x1E61);
  core.Link.Reply.Flags = 0x0880;
  EXPECT_EQ(Call(0x0100), Answer(0x1E61, 0x0881));
  core.Link.Reply.Flags = 0x0880;
  Kbd.ResetQueue();
  EXPECT_EQ(Call(0x0000), Answer(0x0000, 0x08C1));
}

TEST_F(KeyboardServiceTest, RegistersBXCXDXAreEchoed) {
  EXPECT_EQ(Call(0x0200, 0xA1B2, 0xC3D4, 0xE5F6), Answer(0x0200, kCarry, 0xA1B2, 0xC3D4, 0xE5F6));
}

TEST_F(KeyboardServiceTest, TypedKeysReachTheBoard) {
  bool handled = false;
  Kbd.AppMessage(kWmKeyDown, 0x10, 0x2A0001, handled);  // left Shift
  Kbd.AppMessage(kWmKeyDown, 0x41, 0x1E0001, handled);  // A
  Kbd.AppMessage(kWmKeyUp, 0x10, 0xC02A0001, handled);
  EXPECT_EQ(Call(0x0200), Answer(0x0200, kCarry));
  EXPECT_EQ(Call(0x1000), Answer(0x1E41, kCarry));
}

}  // namespace
}  // namespace keyboard
