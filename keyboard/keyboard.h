// The host's side of the board's keyboard: the BIOS shift-state byte, the key
// queue the board reads, and the translation of PC key messages into BIOS key
// codes through KeyTable.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "keyboard/key_table.h"

namespace keyboard {

// Key message numbers as the window system numbers them.
inline constexpr uint32_t kWmKeyDown = 256;
inline constexpr uint32_t kWmKeyUp = 257;
inline constexpr uint32_t kWmSysKeyDown = 260;
inline constexpr uint32_t kWmSysKeyUp = 261;

// ShiftFlags bits (PC BIOS keyboard flag byte).
inline constexpr uint8_t kFlagRightShift = 0x01;
inline constexpr uint8_t kFlagLeftShift = 0x02;
inline constexpr uint8_t kFlagCtrl = 0x04;
inline constexpr uint8_t kFlagAlt = 0x08;
inline constexpr uint8_t kFlagScrollLock = 0x10;
inline constexpr uint8_t kFlagNumLock = 0x20;
inline constexpr uint8_t kFlagCapsLock = 0x40;
inline constexpr uint8_t kHeldBits = 0x0F;  // set while the key is held
inline constexpr uint8_t kLockBits = 0xF0;  // toggled on each key-down

inline constexpr size_t kKeyQueueSize = 16;
inline constexpr uint16_t kDelKeyCode = 0x5300;   // Del, character 0
inline constexpr uint16_t kRefreshCode = 0x7F00;  // produced by no key: "refresh your screen"

// The PC scan code of a key message: bits 16-23 of lParam.
constexpr uint8_t ScanCodeOf(uint32_t lParam) { return static_cast<uint8_t>((lParam >> 16) & 0xFF); }

// The BIOS key code of an ordinary (non-modifier) key for the given table row,
// Windows-style virtual key and shift state.
uint16_t TranslateKey(const TKeyRow& row, uint8_t virtualKey, uint8_t shiftFlags);

// The 30-character shift/lock state text shown in the window.
std::string KBDStateText(uint8_t shiftFlags);

class TKeyboard {
 public:
  // The application-wide key hook: acts on the four key messages and marks each
  // of them handled; any other message is left alone (handled not written).
  void AppMessage(uint32_t message, uint32_t wParam, uint32_t lParam, bool& handled);
  void KeyDown(uint32_t wParam, uint32_t lParam);
  void KeyUp(uint32_t wParam, uint32_t lParam);

  // Appends a code; a code arriving while 15 are unread is dropped (false)
  // and counted in DroppedKeys.
  bool PushKey(uint16_t code);
  // Counts a key that was refused before it reached the queue.
  void RefuseKey();
  bool QueueEmpty() const;
  // Number of unread codes (0..15).
  size_t QueueCount() const;
  // The oldest unread code (only meaningful when the queue is not empty).
  uint16_t PeekKey() const;
  // Takes the oldest unread code; 0 when the queue is empty.
  uint16_t PopKey();
  // Both indices to 0, as at every Connect; the contents stay.
  void ResetQueue();

  // The Del button (shown while Ctrl and Alt are held): queues Del for the board.
  void ButtonDelClick() { PushKey(kDelKeyCode); }
  // What the timer checks to show the Del button.
  bool DelButtonWanted() const {
    return (ShiftFlags & (kFlagCtrl | kFlagAlt)) == (kFlagCtrl | kFlagAlt);
  }

  // Builds the state text and hands it to OnStateText (the window's Label1).
  std::string PrintKBDState();

  // The lock states taken from the PC at window activation; an absent value
  // keeps the current bit. Then PrintKBDState.
  void SyncLocks(std::optional<bool> scrollLock, std::optional<bool> numLock,
                 std::optional<bool> capsLock);

  // At window activation: a Shift, Ctrl or Alt released while another window had
  // the keyboard left its bit set; clear each held bit whose key is not down now.
  // Then PrintKBDState.
  void ReleaseKeysNotHeld(bool shiftDown, bool ctrlDown, bool altDown);

  std::function<void(const std::string&)> OnStateText;

  uint8_t ShiftFlags = 0;
  std::array<uint16_t, kKeyQueueSize> KeyQueue{};
  // Next slot to fill and oldest unread slot, both 0..15.
  uint8_t KeyWriteIndex = 0;
  uint8_t KeyReadIndex = 0;
  // Set (by the timer) while the Refresh Screen button is down; cleared when reported.
  bool RefreshRequest = false;
  // Codes refused because the queue was full, since the start.
  uint64_t DroppedKeys = 0;
  // Told of each key the full queue refused (the link statistics count them).
  std::function<void()> OnKeyDropped;
  // The codes a PC BIOS gives for Alt+letters, Ctrl+cursor keys and the like
  // instead of the key table's plain keys (--full-keys).
  bool FullKeys = false;
};

}  // namespace keyboard
