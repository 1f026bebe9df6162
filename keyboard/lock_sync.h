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

// Clears the Shift, Ctrl and Alt bits whose keys the window system does not
// see held now (released while a dialog had the keyboard). Ends with PrintKBDState.
void SyncHeldKeysFromSystem(TKeyboard& kbd);

}  // namespace keyboard
