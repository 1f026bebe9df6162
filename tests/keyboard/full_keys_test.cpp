// The codes of a PC BIOS for Alt+letters, Alt+digits, Ctrl+cursor keys,
// Ctrl+Print Screen and Shift+Tab with --full-keys, and the key table's codes
// without it, row by row through the keyboard's key-down path.
#include <gtest/gtest.h>

#include "keyboard/keyboard.h"
#include "tests/support/param_names.h"

namespace {

struct TFullKeyCase {
  const char* Name;
  uint8_t Flags;  // ShiftFlags held
  uint8_t Scan;   // PC scan code
  uint8_t Vk;     // virtual key
  uint16_t Plain;  // the key table's code (the default)
  uint16_t Full;   // with --full-keys
};

class FullKeys : public ::testing::TestWithParam<TFullKeyCase> {};

TEST_P(FullKeys, CodeWithAndWithoutTheOption) {
  const auto& c = GetParam();
  for (const bool full : {false, true}) {
    keyboard::TKeyboard kbd;
    kbd.FullKeys = full;
    kbd.ShiftFlags = c.Flags;
    bool handled = false;
    kbd.AppMessage(c.Flags & keyboard::kFlagAlt ? keyboard::kWmSysKeyDown : keyboard::kWmKeyDown, c.Vk,
                   1u | (static_cast<uint32_t>(c.Scan) << 16), handled);
    ASSERT_EQ(kbd.QueueCount(), 1u);
    EXPECT_EQ(kbd.PopKey(), full ? c.Full : c.Plain) << (full ? "full" : "plain");
  }
}

constexpr uint8_t kAlt = keyboard::kFlagAlt;
constexpr uint8_t kCtrl = keyboard::kFlagCtrl;
constexpr uint8_t kShift = keyboard::kFlagLeftShift;

INSTANTIATE_TEST_SUITE_P(
    Keys, FullKeys,
    ::testing::Values(
        TFullKeyCase{"AltX", kAlt, 0x2D, 'X', 0x2D78, 0x2D00},
        TFullKeyCase{"AltA", kAlt, 0x1E, 'A', 0x1E61, 0x1E00},
        TFullKeyCase{"AltQ", kAlt, 0x10, 'Q', 0x1071, 0x1000},
        TFullKeyCase{"AltM", kAlt, 0x32, 'M', 0x326D, 0x3200},
        TFullKeyCase{"Alt1", kAlt, 0x02, '1', 0x0231, 0x7800},
        TFullKeyCase{"Alt5", kAlt, 0x06, '5', 0x0635, 0x7C00},
        TFullKeyCase{"Alt0", kAlt, 0x0B, '0', 0x0B30, 0x8100},
        TFullKeyCase{"AltMinus", kAlt, 0x0C, 0xBD, 0x0C2D, 0x8200},
        TFullKeyCase{"AltEquals", kAlt, 0x0D, 0xBB, 0x0D3D, 0x8300},
        TFullKeyCase{"CtrlLeft", kCtrl, 0x4B, 0x25, 0x4B00, 0x7300},
        TFullKeyCase{"CtrlRight", kCtrl, 0x4D, 0x27, 0x4D00, 0x7400},
        TFullKeyCase{"CtrlHome", kCtrl, 0x47, 0x24, 0x4700, 0x7700},
        TFullKeyCase{"CtrlEnd", kCtrl, 0x4F, 0x23, 0x4F00, 0x7500},
        TFullKeyCase{"CtrlPgUp", kCtrl, 0x49, 0x21, 0x4900, 0x8400},
        TFullKeyCase{"CtrlPgDn", kCtrl, 0x51, 0x22, 0x5100, 0x7600},
        TFullKeyCase{"CtrlPrtSc", kCtrl, 0x37, 0x2C, 0x3700, 0x7200},
        TFullKeyCase{"ShiftTab", kShift, 0x0F, 0x09, 0x0F09, 0x0F00},
        // Keys the option leaves as they are.
        TFullKeyCase{"CtrlC", kCtrl, 0x2E, 'C', 0x2E03, 0x2E03},
        TFullKeyCase{"CtrlAltA", kCtrl | kAlt, 0x1E, 'A', 0x1E01, 0x1E01},
        TFullKeyCase{"AltF1", kAlt, 0x3B, 0x70, 0x6800, 0x6800},
        TFullKeyCase{"AltLeft", kAlt, 0x4B, 0x25, 0x4B00, 0x4B00},
        TFullKeyCase{"ShiftLeft", kShift, 0x4B, 0x25, 0x4B00, 0x4B00},
        TFullKeyCase{"ShiftA", kShift, 0x1E, 'A', 0x1E41, 0x1E41},
        TFullKeyCase{"Tab", 0, 0x0F, 0x09, 0x0F09, 0x0F09},
        TFullKeyCase{"CtrlDel", kCtrl | kAlt, 0x53, 0x2E, 0x5300, 0x5300}),
    testsupport::TNameField());

}  // namespace
