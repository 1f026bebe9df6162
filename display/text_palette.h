// The 16 text colours, indexed by the 4-bit colour numbers of an attribute.
// The dark colours use level 0x7F and light grey 0xBF; bit 7 of an attribute is
// an ordinary background bit (nothing blinks but the cursor marker).
#pragma once

#include <array>
#include <cstdint>

namespace display {

inline constexpr std::array<uint32_t, 16> TextPalette = {
    0x000000, 0x00007F, 0x007F00, 0x007F7F, 0x7F0000, 0x7F007F, 0x7F7F00, 0xBFBFBF,
    0x7F7F7F, 0x0000FF, 0x00FF00, 0x00FFFF, 0xFF0000, 0xFF00FF, 0xFFFF00, 0xFFFFFF};

constexpr uint32_t ForegroundOf(uint8_t attr) { return TextPalette[attr & 0x0F]; }
constexpr uint32_t BackgroundOf(uint8_t attr) { return TextPalette[attr >> 4]; }

}  // namespace display
