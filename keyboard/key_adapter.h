// Turns Qt key events into the key messages the keyboard core expects: message
// number, Windows-style virtual key in wParam, PC/AT set-1 scan code in bits
// 16-23 of lParam.
#pragma once

#include <QEvent>
#include <QKeyEvent>
#include <cstdint>
#include <optional>

#include "keyboard/key_message.h"

namespace keyboard {

// A key of the PC keyboard: its set-1 scan code and whether it is one of the
// gray (E0-prefixed) keys. Scan 0: a key the PC keyboard does not have.
struct TPcKey {
  uint8_t Scan = 0;
  bool Extended = false;
};

// The PC key of an X keycode (evdev code + 8), as Qt reports it in nativeScanCode().
TPcKey PcKeyFromNative(uint32_t nativeScanCode);
// The PC key of a Qt key on a US layout, for events without a native scan code.
TPcKey PcKeyFromQtKey(int key, Qt::KeyboardModifiers modifiers);
// Windows-style virtual key of a PC key. On the keypad it follows what the key
// means now: a digit (Num Lock on) gives VK_NUMPADn, otherwise the cursor key.
uint8_t VirtualKeyOf(TPcKey pcKey, int qtKey);

// The key message for a press or release; nullopt for any other event type.
// The key comes from the native scan code when there is one, else from the Qt key.
std::optional<TKeyMessage> TranslateKeyEvent(QEvent::Type type, int key,
                                             Qt::KeyboardModifiers modifiers,
                                             uint32_t nativeScanCode, bool autoRepeat);
std::optional<TKeyMessage> TranslateKeyEvent(const QKeyEvent& event);

}  // namespace keyboard
