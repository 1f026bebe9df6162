#include "keyboard/keyboard.h"

#include <gtest/gtest.h>

#include "tests/support/param_names.h"

#include <string>
#include <vector>

namespace keyboard {
namespace {

// Windows virtual keys the messages carry.
constexpr uint8_t kVkShift = 0x10;
constexpr uint8_t kVkControl = 0x11;
constexpr uint8_t kVkMenu = 0x12;
constexpr uint8_t kVkCapital = 0x14;
constexpr uint8_t kVkHome = 0x24;
constexpr uint8_t kVkLeft = 0x25;
constexpr uint8_t kVkDelete = 0x2E;
constexpr uint8_t kVkClear = 0x0C;
constexpr uint8_t kVkNumpad5 = 0x65;
constexpr uint8_t kVkNumpad7 = 0x67;
constexpr uint8_t kVkNumLock = 0x90;
constexpr uint8_t kVkScroll = 0x91;

constexpr uint32_t LParam(uint8_t scan) { return 1u | (static_cast<uint32_t>(scan) << 16); }

// Virtual key of the main-block keys used below, by scan code.
uint8_t MainVk(uint8_t scan) {
  switch (scan) {
    case 0x02: return 0x31;
    case 0x1E: return 0x41;
    case 0x2E: return 0x43;
    case 0x1C: return 0x0D;
    case 0x3B: return 0x70;
    case 0x57: return 0x7A;
    default: return 0;
  }
}

class KeyboardTest : public ::testing::Test {
 protected:
  void Down(uint8_t scan, uint8_t vk, uint32_t message = kWmKeyDown) {
    bool handled = false;
    Kbd.AppMessage(message, vk, LParam(scan), handled);
    EXPECT_TRUE(handled);
  }
  void Up(uint8_t scan, uint8_t vk, uint32_t message = kWmKeyUp) {
    bool handled = false;
    Kbd.AppMessage(message, vk, LParam(scan), handled);
    EXPECT_TRUE(handled);
  }
  std::vector<uint16_t> Drain() {
    std::vector<uint16_t> codes;
    while (!Kbd.QueueEmpty()) codes.push_back(Kbd.PopKey());
    return codes;
  }
  TKeyboard Kbd;
};

// --- translation: one key with a given shift state ---------------------------

struct TTranslateCase {
  const char* Name;
  uint8_t Flags;
  uint8_t Scan;
  uint8_t Vk;
  uint16_t Expected;
};

class TranslateTest : public ::testing::TestWithParam<TTranslateCase> {};

TEST_P(TranslateTest, GivesTheBiosCode) {
  const auto& c = GetParam();
  EXPECT_EQ(TranslateKey(KeyTable[c.Scan], c.Vk, c.Flags), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, TranslateTest,
    ::testing::Values(
        TTranslateCase{"A", 0x00, 0x1E, 0x41, 0x1E61},
        TTranslateCase{"ShiftA", 0x02, 0x1E, 0x41, 0x1E41},
        TTranslateCase{"RightShiftA", 0x01, 0x1E, 0x41, 0x1E41},
        TTranslateCase{"CapsA", 0x40, 0x1E, 0x41, 0x1E41},
        TTranslateCase{"CapsShiftA", 0x42, 0x1E, 0x41, 0x1E61},
        TTranslateCase{"Digit1", 0x00, 0x02, 0x31, 0x0231},
        TTranslateCase{"Caps1", 0x40, 0x02, 0x31, 0x0231},
        TTranslateCase{"Shift1", 0x02, 0x02, 0x31, 0x0221},
        TTranslateCase{"CapsShift1", 0x42, 0x02, 0x31, 0x0221},
        TTranslateCase{"CtrlC", 0x04, 0x2E, 0x43, 0x2E03},
        TTranslateCase{"CtrlF1", 0x04, 0x3B, 0x70, 0x5E00},
        TTranslateCase{"AltF1", 0x08, 0x3B, 0x70, 0x6800},
        TTranslateCase{"ShiftF1", 0x02, 0x3B, 0x70, 0x5400},
        TTranslateCase{"F1", 0x00, 0x3B, 0x70, 0x3B00},
        TTranslateCase{"F11", 0x00, 0x57, 0x7A, 0x8500},
        TTranslateCase{"ShiftF11", 0x01, 0x57, 0x7A, 0x8700},
        TTranslateCase{"CtrlF12", 0x04, 0x58, 0x7B, 0x8A00},
        TTranslateCase{"AltF12", 0x08, 0x58, 0x7B, 0x8C00},
        TTranslateCase{"AltA", 0x08, 0x1E, 0x41, 0x1E61},
        TTranslateCase{"AltShiftA", 0x0A, 0x1E, 0x41, 0x1E41},
        TTranslateCase{"CtrlAltA", 0x0C, 0x1E, 0x41, 0x1E01},
        TTranslateCase{"CtrlShiftA", 0x06, 0x1E, 0x41, 0x1E01},
        TTranslateCase{"CtrlEnter", 0x04, 0x1C, 0x0D, 0x1C0D},
        TTranslateCase{"Enter", 0x00, 0x1C, 0x0D, 0x1C0D},
        TTranslateCase{"Left", 0x00, 0x4B, kVkLeft, 0x4B00},
        TTranslateCase{"CtrlLeft", 0x04, 0x4B, kVkLeft, 0x4B00},
        TTranslateCase{"ShiftLeft", 0x02, 0x4B, kVkLeft, 0x4B00},
        TTranslateCase{"NumLockLeft", 0x20, 0x4B, kVkLeft, 0x4B00},
        TTranslateCase{"Delete", 0x00, 0x53, kVkDelete, 0x5300},
        TTranslateCase{"CtrlAltDelete", 0x0C, 0x53, kVkDelete, 0x5300},
        TTranslateCase{"Keypad7NumOffHome", 0x00, 0x47, kVkHome, 0x4700},
        TTranslateCase{"Keypad7NumOffDigit", 0x00, 0x47, kVkNumpad7, 0x4700},
        TTranslateCase{"Keypad7NumOn", 0x20, 0x47, kVkNumpad7, 0x4737},
        TTranslateCase{"Keypad5NumOff", 0x00, 0x4C, kVkClear, 0x4C35},
        TTranslateCase{"Keypad5NumOn", 0x20, 0x4C, kVkNumpad5, 0x4C35},
        TTranslateCase{"KeypadStar", 0x00, 0x37, 0x6A, 0x372A},
        TTranslateCase{"ShiftTab", 0x02, 0x0F, 0x09, 0x0F09}),
    [](const auto& info) { return std::string(info.param.Name); });

// --- messages ------------------------------------------------------------------

TEST_F(KeyboardTest, KeyDownQueuesTheTranslatedCode) {
  Down(0x1E, MainVk(0x1E));
  Down(0x2A, kVkShift);
  Down(0x1E, MainVk(0x1E));
  Up(0x2A, kVkShift);
  Down(0x02, MainVk(0x02));
  EXPECT_EQ(Drain(), (std::vector<uint16_t>{0x1E61, 0x1E41, 0x0231}));
}

TEST_F(KeyboardTest, SystemKeyMessagesActLikeTheOthers) {
  Down(0x38, kVkMenu, kWmSysKeyDown);
  EXPECT_EQ(Kbd.ShiftFlags, kFlagAlt);
  Down(0x3B, MainVk(0x3B), kWmSysKeyDown);
  Up(0x3B, MainVk(0x3B), kWmSysKeyUp);
  Up(0x38, kVkMenu, kWmSysKeyUp);
  EXPECT_EQ(Kbd.ShiftFlags, 0);
  EXPECT_EQ(Drain(), (std::vector<uint16_t>{0x6800}));
}

TEST_F(KeyboardTest, KeyUpOfOrdinaryKeysQueuesNothing) {
  Up(0x1E, MainVk(0x1E));
  EXPECT_TRUE(Kbd.QueueEmpty());
}

TEST_F(KeyboardTest, OtherMessagesAreNotHandled) {
  bool handled = false;
  for (uint32_t message : {0u, 255u, 258u, 259u, 262u, 0x0200u}) {
    Kbd.AppMessage(message, 0x41, LParam(0x1E), handled);
  }
  EXPECT_FALSE(handled);
  EXPECT_TRUE(Kbd.QueueEmpty());
  bool stays = true;
  Kbd.AppMessage(258, 0x41, LParam(0x1E), stays);
  EXPECT_TRUE(stays);  // not written
}

TEST_F(KeyboardTest, SilentKeysAreSwallowed) {
  for (uint8_t scan : {0x00, 0x54, 0x56, 0x5B, 0x7F, 0x80, 0xFF}) {
    Down(scan, 0x5B);
    Up(scan, 0x5B);
  }
  EXPECT_TRUE(Kbd.QueueEmpty());
  EXPECT_EQ(Kbd.ShiftFlags, 0);
}

TEST_F(KeyboardTest, OnlyBits16To23OfLParamSelectTheRow) {
  bool handled = false;
  // Extended bit, repeat count and transition bits around scan 0x1E.
  Kbd.AppMessage(kWmKeyDown, 0x41, 0x411E0005u, handled);
  EXPECT_EQ(Drain(), (std::vector<uint16_t>{0x1E61}));
}

TEST_F(KeyboardTest, CtrlAltCombinationsUseTheHeldState) {
  Down(0x1D, kVkControl);
  Down(0x2E, MainVk(0x2E));
  Down(0x38, kVkMenu);
  Down(0x1E, MainVk(0x1E));
  EXPECT_TRUE(Kbd.DelButtonWanted());
  Up(0x1D, kVkControl);
  EXPECT_FALSE(Kbd.DelButtonWanted());
  Down(0x1E, MainVk(0x1E));
  EXPECT_EQ(Drain(), (std::vector<uint16_t>{0x2E03, 0x1E01, 0x1E61}));
}

// --- shift state ------------------------------------------------------------

TEST_F(KeyboardTest, LeftAndRightShiftAreReleasedIndependently) {
  Down(0x2A, kVkShift);
  EXPECT_EQ(Kbd.ShiftFlags, 0x02);
  Down(0x36, kVkShift);
  EXPECT_EQ(Kbd.ShiftFlags, 0x03);
  Up(0x2A, kVkShift);
  EXPECT_EQ(Kbd.ShiftFlags, 0x01);
  Down(0x1E, MainVk(0x1E));
  Up(0x36, kVkShift);
  EXPECT_EQ(Kbd.ShiftFlags, 0x00);
  Down(0x1E, MainVk(0x1E));
  EXPECT_EQ(Drain(), (std::vector<uint16_t>{0x1E41, 0x1E61}));
}

TEST_F(KeyboardTest, HeldKeyReleaseLeavesTheLocks) {
  Kbd.ShiftFlags = 0x70;
  Down(0x1D, kVkControl);
  Up(0x1D, kVkControl);
  EXPECT_EQ(Kbd.ShiftFlags, 0x70);
}

struct TLockCase {
  uint8_t Scan;
  uint8_t Vk;
  uint8_t Bit;
};

class LockKeyTest : public ::testing::TestWithParam<TLockCase> {};

TEST_P(LockKeyTest, TogglesOnKeyDownOnly) {
  const auto& c = GetParam();
  TKeyboard kbd;
  kbd.ShiftFlags = 0x02;  // a held Shift stays untouched
  bool handled = false;
  kbd.AppMessage(kWmKeyDown, c.Vk, LParam(c.Scan), handled);
  EXPECT_EQ(kbd.ShiftFlags, 0x02 | c.Bit);
  kbd.AppMessage(kWmKeyUp, c.Vk, LParam(c.Scan), handled);
  EXPECT_EQ(kbd.ShiftFlags, 0x02 | c.Bit);
  // An auto-repeated key-down toggles as well.
  kbd.AppMessage(kWmKeyDown, c.Vk, LParam(c.Scan) | 0x40000000u, handled);
  EXPECT_EQ(kbd.ShiftFlags, 0x02);
  kbd.AppMessage(kWmKeyUp, c.Vk, LParam(c.Scan), handled);
  EXPECT_EQ(kbd.ShiftFlags, 0x02);
  EXPECT_TRUE(kbd.QueueEmpty());
}

INSTANTIATE_TEST_SUITE_P(Locks, LockKeyTest,
                         ::testing::Values(TLockCase{0x3A, kVkCapital, 0x40},
                                           TLockCase{0x45, kVkNumLock, 0x20},
                                           TLockCase{0x46, kVkScroll, 0x10}), testsupport::TIndexName());

TEST_F(KeyboardTest, CapsLockKeyChangesLetters) {
  Down(0x3A, kVkCapital);
  Up(0x3A, kVkCapital);
  Down(0x1E, MainVk(0x1E));
  Down(0x3A, kVkCapital);
  Down(0x1E, MainVk(0x1E));
  EXPECT_EQ(Drain(), (std::vector<uint16_t>{0x1E41, 0x1E61}));
}

TEST_F(KeyboardTest, NumLockKeyChangesTheKeypad) {
  Down(0x47, kVkNumpad7);
  Down(0x45, kVkNumLock);
  Down(0x47, kVkNumpad7);
  Down(0x4C, kVkNumpad5);
  EXPECT_EQ(Drain(), (std::vector<uint16_t>{0x4700, 0x4737, 0x4C35}));
}

// --- state text ---------------------------------------------------------------

TEST(KBDStateText, FixedWidthPieces) {
  EXPECT_EQ(KBDStateText(0x00), std::string(30, ' '));
  EXPECT_EQ(KBDStateText(0x7F), "NUML CAPS SCRL SHIFT CTRL ALT ");
  EXPECT_EQ(KBDStateText(0x20), "NUML                          ");
  EXPECT_EQ(KBDStateText(0x01), "               SHIFT          ");
  EXPECT_EQ(KBDStateText(0x02), "               SHIFT          ");
  EXPECT_EQ(KBDStateText(0x48), "     CAPS                 ALT ");
  EXPECT_EQ(KBDStateText(0x14), "          SCRL       CTRL     ");
  for (unsigned f = 0; f < 256; ++f) EXPECT_EQ(KBDStateText(static_cast<uint8_t>(f)).size(), 30u);
}

TEST_F(KeyboardTest, ModifierAndLockKeysShowTheState) {
  std::vector<std::string> shown;
  Kbd.OnStateText = [&](const std::string& text) { shown.push_back(text); };
  Down(0x1D, kVkControl);
  Down(0x3A, kVkCapital);
  Up(0x3A, kVkCapital);
  Up(0x1D, kVkControl);
  Down(0x1E, MainVk(0x1E));  // ordinary keys show nothing
  Up(0x1E, MainVk(0x1E));
  EXPECT_EQ(shown, (std::vector<std::string>{
                       "                     CTRL     ", "     CAPS            CTRL     ",
                       "     CAPS            CTRL     ", "     CAPS                     "}));
}

TEST_F(KeyboardTest, SyncLocksSetsAndClearsAndKeepsAbsentStates) {
  std::string shown;
  Kbd.OnStateText = [&](const std::string& text) { shown = text; };
  Kbd.ShiftFlags = 0x14;  // Ctrl held, Scroll Lock on
  Kbd.SyncLocks(std::nullopt, true, true);
  EXPECT_EQ(Kbd.ShiftFlags, 0x74);
  EXPECT_EQ(shown, "NUML CAPS SCRL       CTRL     ");
  Kbd.SyncLocks(false, std::nullopt, false);
  EXPECT_EQ(Kbd.ShiftFlags, 0x24);
  Kbd.SyncLocks(std::nullopt, std::nullopt, std::nullopt);
  EXPECT_EQ(Kbd.ShiftFlags, 0x24);
  EXPECT_EQ(shown, "NUML                 CTRL     ");
}

// --- queue --------------------------------------------------------------------

TEST_F(KeyboardTest, QueueIsFirstInFirstOutAcrossTheWrap) {
  Kbd.KeyWriteIndex = 14;
  Kbd.KeyReadIndex = 14;
  for (uint16_t code = 1; code <= 5; ++code) EXPECT_TRUE(Kbd.PushKey(code));
  EXPECT_EQ(Kbd.KeyWriteIndex, 3);
  EXPECT_EQ(Kbd.QueueCount(), 5u);
  EXPECT_EQ(Kbd.PeekKey(), 1);
  EXPECT_EQ(Drain(), (std::vector<uint16_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(Kbd.KeyReadIndex, 3);
  EXPECT_EQ(Kbd.PopKey(), 0);
}

TEST_F(KeyboardTest, FullQueueDropsTheNewKey) {
  for (uint16_t code = 1; code <= 15; ++code) EXPECT_TRUE(Kbd.PushKey(code));
  EXPECT_EQ(Kbd.QueueCount(), 15u);
  EXPECT_FALSE(Kbd.PushKey(0x1E61));
  Down(0x1E, MainVk(0x1E));  // typed into a full queue
  EXPECT_FALSE(Kbd.QueueEmpty());
  EXPECT_EQ(Kbd.QueueCount(), 15u);
  std::vector<uint16_t> expected;
  for (uint16_t code = 1; code <= 15; ++code) expected.push_back(code);
  EXPECT_EQ(Drain(), expected);
  // Room again after reading.
  EXPECT_TRUE(Kbd.PushKey(0x1E61));
  EXPECT_EQ(Drain(), (std::vector<uint16_t>{0x1E61}));
}

TEST_F(KeyboardTest, ResetQueueForgetsUnreadKeys) {
  Kbd.PushKey(0x1E61);
  Kbd.PushKey(0x3062);
  Kbd.PopKey();
  Kbd.ResetQueue();
  EXPECT_EQ(Kbd.KeyWriteIndex, 0);
  EXPECT_EQ(Kbd.KeyReadIndex, 0);
  EXPECT_TRUE(Kbd.QueueEmpty());
}

TEST_F(KeyboardTest, OutOfRangeIndicesStayInsideTheRing) {
  Kbd.KeyWriteIndex = 200;  // 200 mod 16 = 8
  Kbd.KeyReadIndex = 8;
  EXPECT_TRUE(Kbd.QueueEmpty());
  EXPECT_TRUE(Kbd.PushKey(0x1234));
  EXPECT_EQ(Kbd.KeyQueue[8], 0x1234);
  EXPECT_EQ(Kbd.KeyWriteIndex, 9);
  EXPECT_EQ(Kbd.PopKey(), 0x1234);
}

TEST_F(KeyboardTest, DelButtonQueuesDel) {
  Kbd.ShiftFlags = kFlagCtrl | kFlagAlt;
  Kbd.ButtonDelClick();
  EXPECT_EQ(Drain(), (std::vector<uint16_t>{0x5300}));
  EXPECT_EQ(Kbd.ShiftFlags, kFlagCtrl | kFlagAlt);
}

}  // namespace
}  // namespace keyboard
