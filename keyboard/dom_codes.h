// The keys of a browser's KeyboardEvent.code ("KeyA", "Digit1", "ArrowUp",
// "NumpadEnter", ...) as keys of the PC keyboard, and the key messages the
// window would build for them, so that a key named by a client reaches the
// board through the same key table, shift flags included. Named chords
// ("Ctrl+Alt+Delete", "Shift+KeyA", "F1") are parsed here too.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "keyboard/key_message.h"

namespace keyboard {

// A key of the PC keyboard named by its DOM code: set-1 scan code, and whether
// it is a gray (E0-prefixed) key.
struct TDomKey {
  uint8_t Scan = 0;
  bool Extended = false;
};

// nullopt for a name that is no key of the PC keyboard (exact, case-sensitive).
std::optional<TDomKey> DomKeyOf(std::string_view code);

// The DOM code of a key of the PC keyboard; nullopt for none.
std::optional<std::string_view> DomCodeOf(TDomKey key);

// The message of `key` going down or up with the shift state `shiftFlags`
// (ShiftFlags bits), as the window builds it: a keypad digit is a digit's
// virtual key while Num Lock is on, a key while Alt is held (and Ctrl is not)
// a system key message.
TKeyMessage DomKeyMessage(TDomKey key, bool down, uint8_t shiftFlags);

// "Ctrl+Alt+Delete", "Shift+KeyA", "F1": modifiers (Ctrl, Alt, Shift, in any
// order, each at most once) before one DOM code.
struct TChord {
  bool Ctrl = false;
  bool Alt = false;
  bool Shift = false;
  TDomKey Key;
};
// nullopt with `error` set for anything else.
std::optional<TChord> ParseChord(std::string_view name, std::string& error);

}  // namespace keyboard
