// The terminal's key decoder against the window's key adapter: for the same
// keys, the same key messages reach the keyboard core.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "keyboard/key_adapter.h"
#include "keyboard/terminal_keys.h"

namespace keyboard {
namespace {

constexpr uint32_t X(uint32_t evdev) { return evdev + 8; }  // X keycode of an evdev code

struct TQtStep {
  QEvent::Type Type;
  int Key;
  Qt::KeyboardModifiers Modifiers;
  uint32_t Native;
};

std::vector<TKeyMessage> WindowMessages(const std::vector<TQtStep>& steps) {
  std::vector<TKeyMessage> messages;
  for (const auto& s : steps) {
    const auto msg = TranslateKeyEvent(s.Type, s.Key, s.Modifiers, s.Native, false);
    EXPECT_TRUE(msg.has_value());
    if (msg) messages.push_back(*msg);
  }
  return messages;
}

std::vector<TKeyMessage> TerminalMessages(const std::string& bytes) {
  TTerminalKeyDecoder decoder;
  auto inputs = decoder.Feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 0);
  for (auto& input : decoder.Flush(TTerminalKeyDecoder::kEscapeTimeMs)) inputs.push_back(input);
  EXPECT_EQ(inputs.size(), 1u) << bytes;
  return inputs.empty() ? std::vector<TKeyMessage>{} : inputs[0].Messages;
}

constexpr auto kPress = QEvent::KeyPress;
constexpr auto kRelease = QEvent::KeyRelease;

// Each printable character as a person types it in the window on a US layout:
// Shift held for capitals and the upper characters of the other keys.
TEST(TerminalKeysAgainstWindow, PrintableCharacters) {
  const char* const kShifted = "~!@#$%^&*()_+{}|:\"<>?";
  for (int c = 0x20; c <= 0x7E; ++c) {
    const bool shift = (c >= 'A' && c <= 'Z') || std::strchr(kShifted, c) != nullptr;
    const int qtKey = c >= 'a' && c <= 'z' ? c - 'a' + Qt::Key_A : c;
    const Qt::KeyboardModifiers mods = shift ? Qt::ShiftModifier : Qt::NoModifier;
    std::vector<TQtStep> steps;
    if (shift) steps.push_back({kPress, Qt::Key_Shift, Qt::NoModifier, 0});
    steps.push_back({kPress, qtKey, mods, 0});
    steps.push_back({kRelease, qtKey, mods, 0});
    if (shift) steps.push_back({kRelease, Qt::Key_Shift, Qt::ShiftModifier, 0});
    EXPECT_EQ(TerminalMessages(std::string(1, static_cast<char>(c))), WindowMessages(steps))
        << "character " << static_cast<char>(c);
  }
}

struct TKeyCase {
  const char* Name;
  std::string Bytes;
  std::vector<TQtStep> Steps;
};

class TerminalKeysAgainstWindowTest : public ::testing::TestWithParam<TKeyCase> {};

TEST_P(TerminalKeysAgainstWindowTest, SameMessages) {
  EXPECT_EQ(TerminalMessages(GetParam().Bytes), WindowMessages(GetParam().Steps));
}

const Qt::KeyboardModifiers kNone = Qt::NoModifier;
const Qt::KeyboardModifiers kAlt = Qt::AltModifier;
const Qt::KeyboardModifiers kCtrl = Qt::ControlModifier;

// One key pressed and released, with its evdev code.
std::vector<TQtStep> Tap(int key, uint32_t evdev, Qt::KeyboardModifiers mods = Qt::NoModifier) {
  return {{kPress, key, mods, X(evdev)}, {kRelease, key, mods, X(evdev)}};
}

// A key tapped while a modifier key is held.
std::vector<TQtStep> With(int modKey, uint32_t modEvdev, Qt::KeyboardModifiers mods, int key,
                          uint32_t evdev) {
  std::vector<TQtStep> steps{{kPress, modKey, kNone, X(modEvdev)}};
  for (const auto& s : Tap(key, evdev, mods)) steps.push_back(s);
  steps.push_back({kRelease, modKey, mods, X(modEvdev)});
  return steps;
}

INSTANTIATE_TEST_SUITE_P(
    Keys, TerminalKeysAgainstWindowTest,
    ::testing::Values(
        TKeyCase{"Esc", "\x1b", Tap(Qt::Key_Escape, 1)}, TKeyCase{"Enter", "\r", Tap(Qt::Key_Return, 28)},
        TKeyCase{"Backspace", "\x7f", Tap(Qt::Key_Backspace, 14)}, TKeyCase{"Tab", "\t", Tap(Qt::Key_Tab, 15)},
        TKeyCase{"Up", "\x1b[A", Tap(Qt::Key_Up, 103)}, TKeyCase{"Home", "\x1b[1~", Tap(Qt::Key_Home, 102)},
        TKeyCase{"Delete", "\x1b[3~", Tap(Qt::Key_Delete, 111)},
        TKeyCase{"PgDn", "\x1b[6~", Tap(Qt::Key_PageDown, 109)},
        TKeyCase{"F1", "\x1bOP", Tap(Qt::Key_F1, 59)}, TKeyCase{"F12", "\x1b[24~", Tap(Qt::Key_F12, 88)},
        TKeyCase{"CtrlC", "\x03", With(Qt::Key_Control, 29, kCtrl, Qt::Key_C, 46)},
        TKeyCase{"AltX", "\x1bx", With(Qt::Key_Alt, 56, kAlt, Qt::Key_X, 45)},
        TKeyCase{"AltLeft", "\x1b\x1b[D", With(Qt::Key_Alt, 56, kAlt, Qt::Key_Left, 105)}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(TerminalKeysAgainstWindow, CtrlBracketKeyIsTheWindowsCtrlBracket) {
  EXPECT_EQ(CtrlBracketKey().Messages,
            WindowMessages(With(Qt::Key_Control, 29, kCtrl, Qt::Key_BracketRight, 27)));
}

}  // namespace
}  // namespace keyboard
