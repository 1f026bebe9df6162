// Pasted text typed as keys: the codes of the same keys typed by hand, paced
// by the queue's room so that none is dropped however long the text.
#include "keyboard/key_paster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "keyboard/keyboard.h"

namespace {

using Codes = std::vector<uint16_t>;

// Board reads, each followed by a tick's Feed, until nothing is left.
Codes DrainAsTheBoardReads(keyboard::TKeyboard& kbd, keyboard::TKeyPaster& paster, size_t& most) {
  Codes got;
  most = 0;
  for (int round = 0; round < 10000 && (paster.Waiting() > 0 || !kbd.QueueEmpty()); ++round) {
    paster.Feed(kbd);
    most = std::max(most, kbd.QueueCount());
    // The board reads three keys between two ticks.
    for (int i = 0; i < 3 && !kbd.QueueEmpty(); ++i) got.push_back(kbd.PopKey());
  }
  return got;
}

TEST(KeyPaster, TypesTheCodesOfTheKeysWithTheirShiftState) {
  keyboard::TKeyboard kbd;
  keyboard::TKeyPaster paster;
  paster.Paste("Ab1!\t{x\r\ny\nz\xC3\xA9\x07.");
  size_t most = 0;
  const Codes got = DrainAsTheBoardReads(kbd, paster, most);
  EXPECT_EQ(got, (Codes{0x1E41, 0x3062, 0x0231, 0x0221, 0x0F09, 0x1A7B, 0x2D78, 0x1C0D, 0x1579,
                        0x1C0D, 0x2C7A, 0x342E}));
  EXPECT_EQ(paster.Skipped, 2u);  // the e with an accent and the bell
  EXPECT_EQ(kbd.ShiftFlags, 0);   // Shift was let go after each shifted key
}

TEST(KeyPaster, CapsLockOnStillTypesTheTextAsWritten) {
  keyboard::TKeyboard kbd;
  kbd.ShiftFlags = keyboard::kFlagCapsLock;
  keyboard::TKeyPaster paster;
  paster.Paste("aB7");
  size_t most = 0;
  EXPECT_EQ(DrainAsTheBoardReads(kbd, paster, most), (Codes{0x1E61, 0x3042, 0x0837}));
  EXPECT_EQ(kbd.ShiftFlags, keyboard::kFlagCapsLock);
}

TEST(KeyPaster, ALongTextNeverOverflowsTheQueueAndLeavesRoomForTyping) {
  keyboard::TKeyboard kbd;
  keyboard::TKeyPaster paster;
  const std::string text(500, 'x');
  paster.Paste(text);
  EXPECT_EQ(paster.Feed(kbd), 11u);  // 15 unread codes fit; four stay free
  EXPECT_EQ(paster.Feed(kbd), 0u);   // nothing read meanwhile: nothing more goes in
  // Keys typed during the paste still fit.
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(kbd.PushKey(0x011B));
  for (int i = 0; i < 4; ++i) kbd.PopKey();
  size_t most = 0;
  const Codes got = DrainAsTheBoardReads(kbd, paster, most);
  EXPECT_EQ(got.size(), 500u);  // the rest of the text and the four typed keys
  EXPECT_EQ(std::count(got.begin(), got.end(), 0x2D78), 496);
  EXPECT_LE(most, 11u);
  EXPECT_EQ(kbd.DroppedKeys, 0u);
}

TEST(KeyPaster, AKeyRefusedByAFullQueueIsCounted) {
  keyboard::TKeyboard kbd;
  for (int i = 0; i < 15; ++i) EXPECT_TRUE(kbd.PushKey(0x1E61));
  EXPECT_FALSE(kbd.PushKey(0x3062));
  kbd.ButtonDelClick();
  EXPECT_EQ(kbd.DroppedKeys, 2u);
  EXPECT_EQ(kbd.QueueCount(), 15u);
}

}  // namespace
