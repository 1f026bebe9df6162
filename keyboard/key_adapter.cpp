#include "keyboard/key_adapter.h"

#include <array>

#include "keyboard/keyboard.h"
#include "keyboard/pc_keys.h"

namespace keyboard {

namespace {

// Windows virtual key codes used below.
constexpr uint8_t kVkControl = 0x11;
constexpr uint8_t kVkMenu = 0x12;
constexpr uint8_t kVkNumpad0 = 0x60;
constexpr uint8_t kVkDecimal = 0x6E;

constexpr uint32_t kXKeycodeOffset = 8;  // X keycode = evdev code + 8

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

// Keys of a US layout whose Qt key is no printable character, and the PC key
// that types them. Printable characters go through the US layout table.
constexpr std::array<TQtKeyScan, 38> kQtKeys = {{
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

// Qt numbers the keys of printable characters by their ASCII code (letters by
// the capital); lower-case codes are no Qt keys.
bool IsPrintableQtKey(int key) {
  if (key > Qt::Key_QuoteLeft && key < Qt::Key_BraceLeft) return false;
  return key >= Qt::Key_Space && key <= Qt::Key_AsciiTilde;
}

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
  if (IsPrintableQtKey(key)) {
    const TUsKey usKey = UsLayoutKeyOf(static_cast<uint8_t>(key));
    return {usKey.Scan, false};
  }
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
  if (IsKeypadNumberKey(pcKey.Scan)) {
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) {
      return static_cast<uint8_t>(kVkNumpad0 + (qtKey - Qt::Key_0));
    }
    if (qtKey == Qt::Key_Period || qtKey == Qt::Key_Comma) return kVkDecimal;
  }
  return MainBlockVirtualKey(pcKey.Scan);
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
