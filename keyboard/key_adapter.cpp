#include "keyboard/key_adapter.h"

#include <array>

#include "keyboard/keyboard.h"

namespace keyboard {

namespace {

// Windows virtual key codes used below.
constexpr uint8_t kVkControl = 0x11;
constexpr uint8_t kVkMenu = 0x12;
constexpr uint8_t kVkNumpad0 = 0x60;
constexpr uint8_t kVkDecimal = 0x6E;

constexpr uint32_t kXKeycodeOffset = 8;  // X keycode = evdev code + 8
constexpr uint8_t kLastMainBlockScan = 0x58;

// Virtual key of each main-block scan code on a US layout. The keypad rows
// (0x47-0x53) hold the cursor-key meaning; digits are handled in VirtualKeyOf.
constexpr std::array<uint8_t, kLastMainBlockScan + 1> kMainBlockVk = {
    0x00, 0x1B, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36,  // 00-07: -, Esc, 1-6
    0x37, 0x38, 0x39, 0x30, 0xBD, 0xBB, 0x08, 0x09,  // 08-0F: 7-0, - =, Backspace, Tab
    0x51, 0x57, 0x45, 0x52, 0x54, 0x59, 0x55, 0x49,  // 10-17: Q W E R T Y U I
    0x4F, 0x50, 0xDB, 0xDD, 0x0D, 0x11, 0x41, 0x53,  // 18-1F: O P [ ] Enter Ctrl A S
    0x44, 0x46, 0x47, 0x48, 0x4A, 0x4B, 0x4C, 0xBA,  // 20-27: D F G H J K L ;
    0xDE, 0xC0, 0x10, 0xDC, 0x5A, 0x58, 0x43, 0x56,  // 28-2F: ' ` LShift \ Z X C V
    0x42, 0x4E, 0x4D, 0xBC, 0xBE, 0xBF, 0x10, 0x6A,  // 30-37: B N M , . / RShift KP*
    0x12, 0x20, 0x14, 0x70, 0x71, 0x72, 0x73, 0x74,  // 38-3F: Alt Space Caps F1-F5
    0x75, 0x76, 0x77, 0x78, 0x79, 0x90, 0x91, 0x24,  // 40-47: F6-F10 NumLock Scroll Home
    0x26, 0x21, 0x6D, 0x25, 0x0C, 0x27, 0x6B, 0x23,  // 48-4F: Up PgUp KP- Left Clear Right KP+ End
    0x28, 0x22, 0x2D, 0x2E, 0x00, 0x00, 0xE2, 0x7A,  // 50-57: Down PgDn Ins Del - - <> F11
    0x7B,                                            // 58: F12
};

// The gray keys: X evdev code, set-1 scan code (sent after an E0 prefix), virtual key.
struct TExtendedKey {
  uint32_t Evdev;
  uint8_t Scan;
  uint8_t Vk;
};
constexpr std::array<TExtendedKey, 18> kExtendedKeys = {{
    {96, 0x1C, 0x0D},   // keypad Enter
    {97, 0x1D, 0x11},   // right Ctrl
    {98, 0x35, 0x6F},   // keypad /
    {99, 0x37, 0x2C},   // Print Screen
    {100, 0x38, 0x12},  // right Alt
    {102, 0x47, 0x24},  // Home
    {103, 0x48, 0x26},  // Up
    {104, 0x49, 0x21},  // Page Up
    {105, 0x4B, 0x25},  // Left
    {106, 0x4D, 0x27},  // Right
    {107, 0x4F, 0x23},  // End
    {108, 0x50, 0x28},  // Down
    {109, 0x51, 0x22},  // Page Down
    {110, 0x52, 0x2D},  // Insert
    {111, 0x53, 0x2E},  // Delete
    {125, 0x5B, 0x5B},  // left Windows key
    {126, 0x5C, 0x5C},  // right Windows key
    {127, 0x5D, 0x5D},  // Menu key
}};

// Qt keys of a US layout and the PC key that types them.
struct TQtKeyScan {
  int Key;
  uint8_t Scan;
  bool Extended;
};

// Letters A-Z in alphabetical order.
constexpr std::array<uint8_t, 26> kLetterScan = {
    0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x22, 0x23, 0x17, 0x24, 0x25, 0x26, 0x32,
    0x31, 0x18, 0x19, 0x10, 0x13, 0x1F, 0x14, 0x16, 0x2F, 0x11, 0x2D, 0x15, 0x2C,
};

constexpr std::array<TQtKeyScan, 81> kQtKeys = {{
    {Qt::Key_1, 0x02, false}, {Qt::Key_2, 0x03, false}, {Qt::Key_3, 0x04, false},
    {Qt::Key_4, 0x05, false}, {Qt::Key_5, 0x06, false}, {Qt::Key_6, 0x07, false},
    {Qt::Key_7, 0x08, false}, {Qt::Key_8, 0x09, false}, {Qt::Key_9, 0x0A, false},
    {Qt::Key_0, 0x0B, false},
    {Qt::Key_Exclam, 0x02, false}, {Qt::Key_At, 0x03, false}, {Qt::Key_NumberSign, 0x04, false},
    {Qt::Key_Dollar, 0x05, false}, {Qt::Key_Percent, 0x06, false},
    {Qt::Key_AsciiCircum, 0x07, false}, {Qt::Key_Ampersand, 0x08, false},
    {Qt::Key_Asterisk, 0x09, false}, {Qt::Key_ParenLeft, 0x0A, false},
    {Qt::Key_ParenRight, 0x0B, false},
    {Qt::Key_Minus, 0x0C, false}, {Qt::Key_Underscore, 0x0C, false},
    {Qt::Key_Equal, 0x0D, false}, {Qt::Key_Plus, 0x0D, false},
    {Qt::Key_BracketLeft, 0x1A, false}, {Qt::Key_BraceLeft, 0x1A, false},
    {Qt::Key_BracketRight, 0x1B, false}, {Qt::Key_BraceRight, 0x1B, false},
    {Qt::Key_Semicolon, 0x27, false}, {Qt::Key_Colon, 0x27, false},
    {Qt::Key_Apostrophe, 0x28, false}, {Qt::Key_QuoteDbl, 0x28, false},
    {Qt::Key_QuoteLeft, 0x29, false}, {Qt::Key_AsciiTilde, 0x29, false},
    {Qt::Key_Backslash, 0x2B, false}, {Qt::Key_Bar, 0x2B, false},
    {Qt::Key_Comma, 0x33, false}, {Qt::Key_Less, 0x33, false},
    {Qt::Key_Period, 0x34, false}, {Qt::Key_Greater, 0x34, false},
    {Qt::Key_Slash, 0x35, false}, {Qt::Key_Question, 0x35, false},
    {Qt::Key_Space, 0x39, false},
    {Qt::Key_Escape, 0x01, false}, {Qt::Key_Backspace, 0x0E, false},
    {Qt::Key_Tab, 0x0F, false}, {Qt::Key_Backtab, 0x0F, false},
    {Qt::Key_Return, 0x1C, false}, {Qt::Key_Enter, 0x1C, true},
    {Qt::Key_Control, 0x1D, false}, {Qt::Key_Shift, 0x2A, false},
    {Qt::Key_Alt, 0x38, false}, {Qt::Key_AltGr, 0x38, true},
    {Qt::Key_CapsLock, 0x3A, false}, {Qt::Key_NumLock, 0x45, false},
    {Qt::Key_ScrollLock, 0x46, false},
    {Qt::Key_F1, 0x3B, false}, {Qt::Key_F2, 0x3C, false}, {Qt::Key_F3, 0x3D, false},
    {Qt::Key_F4, 0x3E, false}, {Qt::Key_F5, 0x3F, false}, {Qt::Key_F6, 0x40, false},
    {Qt::Key_F7, 0x41, false}, {Qt::Key_F8, 0x42, false}, {Qt::Key_F9, 0x43, false},
    {Qt::Key_F10, 0x44, false}, {Qt::Key_F11, 0x57, false}, {Qt::Key_F12, 0x58, false},
    {Qt::Key_Print, 0x37, true}, {Qt::Key_Home, 0x47, true}, {Qt::Key_Up, 0x48, true},
    {Qt::Key_PageUp, 0x49, true}, {Qt::Key_Left, 0x4B, true}, {Qt::Key_Right, 0x4D, true},
    {Qt::Key_End, 0x4F, true}, {Qt::Key_Down, 0x50, true}, {Qt::Key_PageDown, 0x51, true},
    {Qt::Key_Insert, 0x52, true}, {Qt::Key_Delete, 0x53, true},
    {Qt::Key_Meta, 0x5B, true}, {Qt::Key_Menu, 0x5D, true},
}};

// The same Qt keys when they come from the numeric keypad (keypad modifier set).
constexpr std::array<TQtKeyScan, 29> kQtKeypadKeys = {{
    {Qt::Key_7, 0x47, false}, {Qt::Key_8, 0x48, false}, {Qt::Key_9, 0x49, false},
    {Qt::Key_4, 0x4B, false}, {Qt::Key_5, 0x4C, false}, {Qt::Key_6, 0x4D, false},
    {Qt::Key_1, 0x4F, false}, {Qt::Key_2, 0x50, false}, {Qt::Key_3, 0x51, false},
    {Qt::Key_0, 0x52, false}, {Qt::Key_Period, 0x53, false}, {Qt::Key_Comma, 0x53, false},
    {Qt::Key_Home, 0x47, false}, {Qt::Key_Up, 0x48, false}, {Qt::Key_PageUp, 0x49, false},
    {Qt::Key_Left, 0x4B, false}, {Qt::Key_Clear, 0x4C, false}, {Qt::Key_Right, 0x4D, false},
    {Qt::Key_End, 0x4F, false}, {Qt::Key_Down, 0x50, false}, {Qt::Key_PageDown, 0x51, false},
    {Qt::Key_Insert, 0x52, false}, {Qt::Key_Delete, 0x53, false},
    {Qt::Key_Minus, 0x4A, false}, {Qt::Key_Plus, 0x4E, false},
    {Qt::Key_Asterisk, 0x37, false}, {Qt::Key_Slash, 0x35, true},
    {Qt::Key_Enter, 0x1C, true},
    {Qt::Key_Equal, 0x00, false},  // keypad = is not on a PC keyboard
}};

template <size_t N>
const TQtKeyScan* FindQtKey(const std::array<TQtKeyScan, N>& table, int key) {
  for (const auto& entry : table) {
    if (entry.Key == key) return &entry;
  }
  return nullptr;
}

bool IsKeypadNumberKey(uint8_t scan) {
  return scan >= 0x47 && scan <= 0x53 && scan != 0x4A && scan != 0x4E;
}

}  // namespace

TPcKey PcKeyFromNative(uint32_t nativeScanCode) {
  if (nativeScanCode < kXKeycodeOffset) return {};
  const uint32_t evdev = nativeScanCode - kXKeycodeOffset;
  if (evdev <= kLastMainBlockScan) return {static_cast<uint8_t>(evdev), false};
  for (const auto& key : kExtendedKeys) {
    if (key.Evdev == evdev) return {key.Scan, true};
  }
  return {};
}

TPcKey PcKeyFromQtKey(int key, Qt::KeyboardModifiers modifiers) {
  if (modifiers.testFlag(Qt::KeypadModifier)) {
    if (const auto* entry = FindQtKey(kQtKeypadKeys, key)) return {entry->Scan, entry->Extended};
  }
  if (key >= Qt::Key_A && key <= Qt::Key_Z) return {kLetterScan[static_cast<size_t>(key - Qt::Key_A)], false};
  if (const auto* entry = FindQtKey(kQtKeys, key)) return {entry->Scan, entry->Extended};
  return {};
}

uint8_t VirtualKeyOf(TPcKey pcKey, int qtKey) {
  if (pcKey.Extended) {
    for (const auto& key : kExtendedKeys) {
      if (key.Scan == pcKey.Scan) return key.Vk;
    }
    return 0;
  }
  if (pcKey.Scan > kLastMainBlockScan) return 0;
  if (IsKeypadNumberKey(pcKey.Scan)) {
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) {
      return static_cast<uint8_t>(kVkNumpad0 + (qtKey - Qt::Key_0));
    }
    if (qtKey == Qt::Key_Period || qtKey == Qt::Key_Comma) return kVkDecimal;
  }
  return kMainBlockVk[pcKey.Scan];
}

std::optional<TKeyMessage> TranslateKeyEvent(QEvent::Type type, int key,
                                             Qt::KeyboardModifiers modifiers,
                                             uint32_t nativeScanCode, bool autoRepeat) {
  const bool press = type == QEvent::KeyPress;
  if (!press && type != QEvent::KeyRelease) return std::nullopt;

  // X keycodes start at 8; below that there is no native code to go by.
  const TPcKey pcKey = nativeScanCode >= kXKeycodeOffset ? PcKeyFromNative(nativeScanCode)
                                                         : PcKeyFromQtKey(key, modifiers);
  const uint8_t vk = VirtualKeyOf(pcKey, key);

  // As on a PC: a key pressed or released while Alt is held (and Ctrl is not)
  // is a system key message.
  const bool alt = modifiers.testFlag(Qt::AltModifier) || vk == kVkMenu;
  const bool ctrl = modifiers.testFlag(Qt::ControlModifier) || vk == kVkControl;
  const bool system = alt && !ctrl;

  TKeyMessage msg;
  msg.WParam = vk;
  msg.LParam = kLParamRepeatOne | (static_cast<uint32_t>(pcKey.Scan) << 16);
  if (pcKey.Extended) msg.LParam |= kLParamExtended;
  if (press) {
    msg.Message = system ? kWmSysKeyDown : kWmKeyDown;
    if (autoRepeat) msg.LParam |= kLParamPrevious;
  } else {
    msg.Message = system ? kWmSysKeyUp : kWmKeyUp;
    msg.LParam |= kLParamPrevious | kLParamRelease;
  }
  return msg;
}

std::optional<TKeyMessage> TranslateKeyEvent(const QKeyEvent& event) {
  return TranslateKeyEvent(event.type(), event.key(), event.modifiers(), event.nativeScanCode(),
                           event.isAutoRepeat());
}

}  // namespace keyboard
