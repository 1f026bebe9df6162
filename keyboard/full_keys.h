// The codes a PC BIOS gives for keys that the console's key table answers with
// the plain key: Alt with letters, digits, - and = (character 0), Ctrl with the
// cursor keys and Print Screen, Shift+Tab. Only when asked for (--full-keys).
#pragma once

#include <cstdint>
#include <optional>

namespace keyboard {

// The full code of a key going down with the given PC scan code, virtual key
// and shift state; nullopt where the key table's code stands.
std::optional<uint16_t> FullBiosKeyCode(uint8_t scan, uint8_t virtualKey, uint8_t shiftFlags);

}  // namespace keyboard
