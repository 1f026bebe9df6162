// The keyboard part of the main window's activation: the lock bits of
// ShiftFlags are taken from the PC's own lock states.
#pragma once

#include "keyboard/keyboard.h"

namespace keyboard {

// Caps Lock and Num Lock come from the X server when running under X11; Scroll
// Lock has no indicator in the default keymap and keeps following the key
// messages. Without an X display the bits stay as they are. Ends with
// PrintKBDState.
void SyncLocksFromSystem(TKeyboard& kbd);

}  // namespace keyboard
