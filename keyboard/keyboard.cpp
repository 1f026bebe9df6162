#include "keyboard/keyboard.h"

#include "keyboard/full_keys.h"

namespace keyboard {

namespace {

constexpr uint8_t kVkFirstCursor = 0x21;  // VK_PRIOR
constexpr uint8_t kVkLastCursor = 0x2E;   // VK_DELETE
constexpr uint8_t kShiftBits = kFlagRightShift | kFlagLeftShift;

constexpr uint8_t Next(uint8_t index) { return static_cast<uint8_t>((index + 1) % kKeyQueueSize); }
constexpr uint8_t Slot(uint8_t index) { return static_cast<uint8_t>(index % kKeyQueueSize); }

constexpr uint16_t Code(uint8_t scan, uint8_t character) {
  return static_cast<uint16_t>((scan << 8) | character);
}

bool IsLowerLetter(uint8_t c) { return c >= 0x61 && c <= 0x7A; }

}  // namespace

uint16_t TranslateKey(const TKeyRow& row, uint8_t virtualKey, uint8_t shiftFlags) {
  const uint8_t scan = row[kColBiosScan];
  const uint8_t normal = row[kColNormal];
  const uint8_t shifted = row[kColShifted];
  const bool shift = (shiftFlags & kShiftBits) != 0;

  // Cursor and editing keys ignore every modifier.
  if (virtualKey >= kVkFirstCursor && virtualKey <= kVkLastCursor) return Code(scan, 0);
  if ((shiftFlags & kFlagCtrl) != 0) {
    if (row[kColCtrl] != 0) return Code(row[kColCtrl], 0);
    return Code(scan, normal & 0x1F);
  }
  // With Alt on a key without an Alt code, the key reads as if Alt were not held.
  if ((shiftFlags & kFlagAlt) != 0 && row[kColAlt] != 0) return Code(row[kColAlt], 0);
  if ((shiftFlags & kFlagCapsLock) != 0 && IsLowerLetter(normal)) {
    return Code(scan, shift ? normal : shifted);
  }
  if (shift && shifted != 0) {
    // On the function keys the shifted column holds the scan code of Shift+key.
    if (normal == 0) return Code(shifted, 0);
    return Code(scan, shifted);
  }
  if ((shiftFlags & kFlagNumLock) == 0 && row[kColKeypad] != 0) return Code(scan, 0);
  return Code(scan, normal);
}

std::string KBDStateText(uint8_t f) {
  std::string text;
  text.reserve(30);
  text += (f & kFlagNumLock) != 0 ? "NUML " : "     ";
  text += (f & kFlagCapsLock) != 0 ? "CAPS " : "     ";
  text += (f & kFlagScrollLock) != 0 ? "SCRL " : "     ";
  text += (f & kShiftBits) != 0 ? "SHIFT " : "      ";
  text += (f & kFlagCtrl) != 0 ? "CTRL " : "     ";
  text += (f & kFlagAlt) != 0 ? "ALT " : "    ";
  return text;
}

void TKeyboard::AppMessage(uint32_t message, uint32_t wParam, uint32_t lParam, bool& handled) {
  switch (message) {
    case kWmKeyDown:
    case kWmSysKeyDown:
      KeyDown(wParam, lParam);
      handled = true;
      break;
    case kWmKeyUp:
    case kWmSysKeyUp:
      KeyUp(wParam, lParam);
      handled = true;
      break;
    default:
      break;
  }
}

void TKeyboard::KeyDown(uint32_t wParam, uint32_t lParam) {
  const TKeyRow& row = KeyTable[ScanCodeOf(lParam)];
  if (row[kColBiosScan] == 0) return;
  const uint8_t bit = row[kColStateBit];
  if (bit != 0) {
    if ((bit & kLockBits) != 0) {
      // Every key-down toggles, auto-repeated ones included.
      if ((ShiftFlags & bit) != 0) {
        ShiftFlags &= row[kColAndMask];
      } else {
        ShiftFlags |= bit;
      }
    } else {
      ShiftFlags |= bit;
    }
    PrintKBDState();
    return;
  }
  const auto vk = static_cast<uint8_t>(wParam & 0xFF);
  uint16_t code = TranslateKey(row, vk, ShiftFlags);
  if (FullKeys) code = FullBiosKeyCode(ScanCodeOf(lParam), vk, ShiftFlags).value_or(code);
  PushKey(code);
}

void TKeyboard::KeyUp(uint32_t /*wParam*/, uint32_t lParam) {
  const TKeyRow& row = KeyTable[ScanCodeOf(lParam)];
  if (row[kColBiosScan] == 0) return;
  const uint8_t bit = row[kColStateBit];
  if (bit == 0) return;
  if ((bit & kHeldBits) != 0) ShiftFlags &= row[kColAndMask];
  PrintKBDState();
}

bool TKeyboard::PushKey(uint16_t code) {
  const uint8_t next = Next(Slot(KeyWriteIndex));
  // One slot always stays free: with write one behind read the ring is full,
  // and a further code would make it look empty. Drop it, as a PC BIOS does.
  if (next == Slot(KeyReadIndex)) {
    RefuseKey();
    return false;
  }
  KeyQueue[Slot(KeyWriteIndex)] = code;
  KeyWriteIndex = next;
  return true;
}

bool TKeyboard::QueueEmpty() const { return Slot(KeyWriteIndex) == Slot(KeyReadIndex); }

void TKeyboard::RefuseKey() {
  ++DroppedKeys;
  if (OnKeyDropped) OnKeyDropped();
}

size_t TKeyboard::QueueCount() const {
  return (Slot(KeyWriteIndex) + kKeyQueueSize - Slot(KeyReadIndex)) % kKeyQueueSize;
}

uint16_t TKeyboard::PeekKey() const { return KeyQueue[Slot(KeyReadIndex)]; }

uint16_t TKeyboard::PopKey() {
  if (QueueEmpty()) return 0;
  const uint16_t code = KeyQueue[Slot(KeyReadIndex)];
  KeyReadIndex = Next(Slot(KeyReadIndex));
  return code;
}

void TKeyboard::ResetQueue() {
  KeyWriteIndex = 0;
  KeyReadIndex = 0;
}

std::string TKeyboard::PrintKBDState() {
  std::string text = KBDStateText(ShiftFlags);
  if (OnStateText) OnStateText(text);
  return text;
}

void TKeyboard::ReleaseKeysNotHeld(bool shiftDown, bool ctrlDown, bool altDown) {
  uint8_t released = 0;
  if (!shiftDown) released |= kShiftBits;
  if (!ctrlDown) released |= kFlagCtrl;
  if (!altDown) released |= kFlagAlt;
  ShiftFlags &= static_cast<uint8_t>(~released);
  PrintKBDState();
}

void TKeyboard::SyncLocks(std::optional<bool> scrollLock, std::optional<bool> numLock,
                          std::optional<bool> capsLock) {
  const auto apply = [this](std::optional<bool> on, uint8_t bit) {
    if (!on.has_value()) return;
    if (*on) {
      ShiftFlags |= bit;
    } else {
      ShiftFlags &= static_cast<uint8_t>(~bit);
    }
  };
  apply(scrollLock, kFlagScrollLock);
  apply(numLock, kFlagNumLock);
  apply(capsLock, kFlagCapsLock);
  PrintKBDState();
}

}  // namespace keyboard
