#include "keyboard/key_adapter.h"

#include <gtest/gtest.h>

#include <string>

#include "keyboard/keyboard.h"

namespace keyboard {
namespace {

constexpr uint32_t X(uint32_t evdev) { return evdev + 8; }  // X keycode of an evdev code

struct TAdapterCase {
  const char* Name;
  QEvent::Type Type;
  int Key;
  Qt::KeyboardModifiers Modifiers;
  uint32_t Native;
  uint32_t Message;
  uint8_t Vk;
  uint8_t Scan;
  bool Extended;
};

constexpr auto kPress = QEvent::KeyPress;
constexpr auto kRelease = QEvent::KeyRelease;
const Qt::KeyboardModifiers kNone = Qt::NoModifier;
const Qt::KeyboardModifiers kShift = Qt::ShiftModifier;
const Qt::KeyboardModifiers kCtrl = Qt::ControlModifier;
const Qt::KeyboardModifiers kAlt = Qt::AltModifier;
const Qt::KeyboardModifiers kPad = Qt::KeypadModifier;

class AdapterTest : public ::testing::TestWithParam<TAdapterCase> {};

TEST_P(AdapterTest, GivesTheKeyMessage) {
  const auto& c = GetParam();
  const QKeyEvent event(c.Type, c.Key, c.Modifiers, c.Native, 0, 0);
  const auto msg = TranslateKeyEvent(event);
  ASSERT_TRUE(msg.has_value());
  EXPECT_EQ(msg->Message, c.Message);
  EXPECT_EQ(msg->WParam, c.Vk);
  EXPECT_EQ(ScanCodeOf(msg->LParam), c.Scan);
  EXPECT_EQ((msg->LParam & kLParamExtended) != 0, c.Extended);
}

INSTANTIATE_TEST_SUITE_P(
    NativeScanCode, AdapterTest,
    ::testing::Values(
        TAdapterCase{"a", kPress, Qt::Key_A, kNone, X(30), 256, 0x41, 0x1E, false},
        TAdapterCase{"ShiftA", kPress, Qt::Key_A, kShift, X(30), 256, 0x41, 0x1E, false},
        TAdapterCase{"Digit1", kPress, Qt::Key_1, kNone, X(2), 256, 0x31, 0x02, false},
        // Qt gives '!' (0x21, the code of VK_PRIOR): the scan code decides.
        TAdapterCase{"Shift1", kPress, Qt::Key_Exclam, kShift, X(2), 256, 0x31, 0x02, false},
        TAdapterCase{"ShiftSlash", kPress, Qt::Key_Question, kShift, X(53), 256, 0xBF, 0x35, false},
        TAdapterCase{"Enter", kPress, Qt::Key_Return, kNone, X(28), 256, 0x0D, 0x1C, false},
        TAdapterCase{"Esc", kPress, Qt::Key_Escape, kNone, X(1), 256, 0x1B, 0x01, false},
        TAdapterCase{"Backspace", kPress, Qt::Key_Backspace, kNone, X(14), 256, 0x08, 0x0E, false},
        TAdapterCase{"Tab", kPress, Qt::Key_Tab, kNone, X(15), 256, 0x09, 0x0F, false},
        TAdapterCase{"Left", kPress, Qt::Key_Left, kNone, X(105), 256, 0x25, 0x4B, true},
        TAdapterCase{"Delete", kPress, Qt::Key_Delete, kNone, X(111), 256, 0x2E, 0x53, true},
        TAdapterCase{"F1", kPress, Qt::Key_F1, kNone, X(59), 256, 0x70, 0x3B, false},
        TAdapterCase{"F11", kPress, Qt::Key_F11, kNone, X(87), 256, 0x7A, 0x57, false},
        TAdapterCase{"F12", kPress, Qt::Key_F12, kNone, X(88), 256, 0x7B, 0x58, false},
        TAdapterCase{"CtrlC", kPress, Qt::Key_C, kCtrl, X(46), 256, 0x43, 0x2E, false},
        TAdapterCase{"AltF1", kPress, Qt::Key_F1, kAlt, X(59), 260, 0x70, 0x3B, false},
        TAdapterCase{"CtrlAltA", kPress, Qt::Key_A, kCtrl | kAlt, X(30), 256, 0x41, 0x1E, false},
        TAdapterCase{"AltKey", kPress, Qt::Key_Alt, kNone, X(56), 260, 0x12, 0x38, false},
        TAdapterCase{"AltKeyRelease", kRelease, Qt::Key_Alt, kAlt, X(56), 261, 0x12, 0x38, false},
        TAdapterCase{"RightAlt", kPress, Qt::Key_AltGr, kNone, X(100), 260, 0x12, 0x38, true},
        TAdapterCase{"Keypad7NumOff", kPress, Qt::Key_Home, kPad, X(71), 256, 0x24, 0x47, false},
        TAdapterCase{"Keypad7NumOn", kPress, Qt::Key_7, kPad, X(71), 256, 0x67, 0x47, false},
        TAdapterCase{"Keypad5NumOff", kPress, Qt::Key_Clear, kPad, X(76), 256, 0x0C, 0x4C, false},
        TAdapterCase{"KeypadDotNumOff", kPress, Qt::Key_Delete, kPad, X(83), 256, 0x2E, 0x53, false},
        TAdapterCase{"KeypadDotNumOn", kPress, Qt::Key_Period, kPad, X(83), 256, 0x6E, 0x53, false},
        TAdapterCase{"KeypadMinus", kPress, Qt::Key_Minus, kPad, X(74), 256, 0x6D, 0x4A, false},
        TAdapterCase{"Home", kPress, Qt::Key_Home, kNone, X(102), 256, 0x24, 0x47, true},
        TAdapterCase{"RightCtrl", kPress, Qt::Key_Control, kNone, X(97), 256, 0x11, 0x1D, true},
        TAdapterCase{"LeftCtrl", kPress, Qt::Key_Control, kNone, X(29), 256, 0x11, 0x1D, false},
        TAdapterCase{"KeypadEnter", kPress, Qt::Key_Enter, kPad, X(96), 256, 0x0D, 0x1C, true},
        TAdapterCase{"KeypadSlash", kPress, Qt::Key_Slash, kPad, X(98), 256, 0x6F, 0x35, true},
        TAdapterCase{"RightShift", kPress, Qt::Key_Shift, kNone, X(54), 256, 0x10, 0x36, false},
        TAdapterCase{"Release", kRelease, Qt::Key_A, kNone, X(30), 257, 0x41, 0x1E, false},
        TAdapterCase{"Mute", kPress, Qt::Key_VolumeMute, kNone, X(113), 256, 0x00, 0x00, false}),
    [](const auto& info) { return std::string(info.param.Name); });

INSTANTIATE_TEST_SUITE_P(
    FromQtKey, AdapterTest,
    ::testing::Values(
        TAdapterCase{"a", kPress, Qt::Key_A, kNone, 0, 256, 0x41, 0x1E, false},
        TAdapterCase{"z", kPress, Qt::Key_Z, kNone, 0, 256, 0x5A, 0x2C, false},
        TAdapterCase{"Shift1", kPress, Qt::Key_Exclam, kShift, 0, 256, 0x31, 0x02, false},
        TAdapterCase{"Digit0", kPress, Qt::Key_0, kNone, 0, 256, 0x30, 0x0B, false},
        TAdapterCase{"Tilde", kPress, Qt::Key_AsciiTilde, kShift, 0, 256, 0xC0, 0x29, false},
        TAdapterCase{"Enter", kPress, Qt::Key_Return, kNone, 0, 256, 0x0D, 0x1C, false},
        TAdapterCase{"Esc", kPress, Qt::Key_Escape, kNone, 0, 256, 0x1B, 0x01, false},
        TAdapterCase{"Backtab", kPress, Qt::Key_Backtab, kShift, 0, 256, 0x09, 0x0F, false},
        TAdapterCase{"Left", kPress, Qt::Key_Left, kNone, 0, 256, 0x25, 0x4B, true},
        TAdapterCase{"Delete", kPress, Qt::Key_Delete, kNone, 0, 256, 0x2E, 0x53, true},
        TAdapterCase{"F11", kPress, Qt::Key_F11, kNone, 0, 256, 0x7A, 0x57, false},
        TAdapterCase{"Control", kPress, Qt::Key_Control, kNone, 0, 256, 0x11, 0x1D, false},
        TAdapterCase{"Shift", kPress, Qt::Key_Shift, kNone, 0, 256, 0x10, 0x2A, false},
        TAdapterCase{"Keypad7NumOff", kPress, Qt::Key_Home, kPad, 0, 256, 0x24, 0x47, false},
        TAdapterCase{"Keypad7NumOn", kPress, Qt::Key_7, kPad, 0, 256, 0x67, 0x47, false},
        TAdapterCase{"Keypad5NumOff", kPress, Qt::Key_Clear, kPad, 0, 256, 0x0C, 0x4C, false},
        TAdapterCase{"KeypadStar", kPress, Qt::Key_Asterisk, kPad, 0, 256, 0x6A, 0x37, false},
        TAdapterCase{"ShiftStar", kPress, Qt::Key_Asterisk, kShift, 0, 256, 0x38, 0x09, false},
        TAdapterCase{"KeypadEnter", kPress, Qt::Key_Enter, kPad, 0, 256, 0x0D, 0x1C, true},
        TAdapterCase{"KeypadEqual", kPress, Qt::Key_Equal, kPad, 0, 256, 0x00, 0x00, false},
        TAdapterCase{"Unknown", kPress, Qt::Key_VolumeUp, kNone, 0, 256, 0x00, 0x00, false},
        TAdapterCase{"BelowXRange", kPress, Qt::Key_B, kNone, 3, 256, 0x42, 0x30, false}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(KeyAdapter, OtherEventsGiveNoMessage) {
  EXPECT_FALSE(TranslateKeyEvent(QEvent::ShortcutOverride, Qt::Key_A, Qt::NoModifier, X(30), false));
  EXPECT_FALSE(TranslateKeyEvent(QEvent::MouseButtonPress, Qt::Key_A, Qt::NoModifier, X(30), false));
}

TEST(KeyAdapter, LParamCarriesTheTransitionBits) {
  const auto first = TranslateKeyEvent(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, X(30), false);
  const auto repeat = TranslateKeyEvent(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, X(30), true);
  const auto up = TranslateKeyEvent(QEvent::KeyRelease, Qt::Key_Left, Qt::NoModifier, X(105), false);
  ASSERT_TRUE(first && repeat && up);
  EXPECT_EQ(first->LParam, 0x001E0001u);
  EXPECT_EQ(repeat->LParam, 0x401E0001u);
  EXPECT_EQ(up->LParam, 0xC14B0001u);
}

// From Qt events to BIOS codes, as the board will read them.
class AdapterToCodeTest : public ::testing::Test {
 protected:
  void Key(QEvent::Type type, int key, Qt::KeyboardModifiers modifiers, uint32_t evdev) {
    const auto msg = TranslateKeyEvent(type, key, modifiers, X(evdev), false);
    ASSERT_TRUE(msg.has_value());
    bool handled = false;
    Kbd.AppMessage(msg->Message, msg->WParam, msg->LParam, handled);
    EXPECT_TRUE(handled);
  }
  void Press(int key, Qt::KeyboardModifiers modifiers, uint32_t evdev) {
    Key(QEvent::KeyPress, key, modifiers, evdev);
  }
  void Release(int key, Qt::KeyboardModifiers modifiers, uint32_t evdev) {
    Key(QEvent::KeyRelease, key, modifiers, evdev);
  }
  std::vector<uint16_t> Drain() {
    std::vector<uint16_t> codes;
    while (!Kbd.QueueEmpty()) codes.push_back(Kbd.PopKey());
    return codes;
  }
  TKeyboard Kbd;
};

TEST_F(AdapterToCodeTest, ShiftedDigitIsNotAPageKey) {
  Press(Qt::Key_Shift, kNone, 42);
  Press(Qt::Key_Exclam, kShift, 2);
  Release(Qt::Key_Exclam, kShift, 2);
  Release(Qt::Key_Shift, kShift, 42);
  EXPECT_EQ(Kbd.ShiftFlags, 0);
  EXPECT_EQ(Drain(), (std::vector<uint16_t>{0x0221}));
}

TEST_F(AdapterToCodeTest, KeypadFollowsNumLock) {
  Press(Qt::Key_Home, kPad, 71);   // Num Lock off
  Press(Qt::Key_NumLock, kNone, 69);
  Release(Qt::Key_NumLock, kNone, 69);
  Press(Qt::Key_7, kPad, 71);      // Num Lock on
  Press(Qt::Key_5, kPad, 76);
  Press(Qt::Key_Left, kNone, 105); // the gray arrow ignores Num Lock
  EXPECT_EQ(Drain(), (std::vector<uint16_t>{0x4700, 0x4737, 0x4C35, 0x4B00}));
}

TEST_F(AdapterToCodeTest, CtrlAndAltKeys) {
  Press(Qt::Key_Control, kNone, 97);  // right Ctrl
  Press(Qt::Key_C, kCtrl, 46);
  Press(Qt::Key_Alt, kCtrl, 56);
  EXPECT_TRUE(Kbd.DelButtonWanted());
  Release(Qt::Key_Alt, kCtrl | kAlt, 56);
  Release(Qt::Key_Control, kCtrl, 97);
  Press(Qt::Key_Alt, kNone, 56);
  Press(Qt::Key_F1, kAlt, 59);
  Release(Qt::Key_Alt, kAlt, 56);
  Press(Qt::Key_Enter, kPad, 96);
  EXPECT_EQ(Kbd.ShiftFlags, 0);
  EXPECT_EQ(Drain(), (std::vector<uint16_t>{0x2E03, 0x6800, 0x1C0D}));
}

}  // namespace
}  // namespace keyboard
