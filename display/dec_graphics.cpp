#include "display/dec_graphics.h"

#include <string_view>

namespace display {

namespace {

// Codes 0x00-0x1F and 0x80-0xFF, eight to a group: the character shown, and
// 'D' where that character is one of the DEC special graphics set. Double
// lines become single ones, shades the checkerboard, blocks '#'.
constexpr std::string_view kLowChars = " oo*`**~" "#o#????*" "><|!PS-|" "^v><m-^v";
constexpr std::string_view kLowSet   = "....D..D" "........" "........" "....D...";
constexpr std::string_view kHighChars =
    "Cueaaaac" "eeeiiiAA" "EaAooouu" "yOUc}YPf"   // 80-9F
    "aiounNao" "?--?\?!<>" "aaaxuuuk" "kuxkjjjk"   // A0-BF
    "mvwtqntt" "mlvwtqnv" "vwwmmlln" "njl#####"   // C0-DF
    "aBG{Ssut" "FOOd8fen" "=gzy()/~" "f~~vn2# ";  // E0-FF
constexpr std::string_view kHighSet =
    "........" "........" "........" "....D..."
    "........" "........" "DDDDDDDD" "DDDDDDDD"
    "DDDDDDDD" "DDDDDDDD" "DDDDDDDD" "DDD....."
    "...D...." "........" ".DDD...." "DDD.....";
static_assert(kLowChars.size() == 32 && kLowSet.size() == 32);
static_assert(kHighChars.size() == 128 && kHighSet.size() == 128);

}  // namespace

char32_t Cp437ToDec(uint8_t code) {
  if (code == 0x7F) return U'?';  // the house
  if (code >= 0x20 && code < 0x80) return code;
  const bool low = code < 0x20;
  const size_t i = low ? code : code - 0x80u;
  const char32_t ch = static_cast<uint8_t>(low ? kLowChars[i] : kHighChars[i]);
  return (low ? kLowSet[i] : kHighSet[i]) == 'D' ? kDecGraphicsFlag | ch : ch;
}

}  // namespace display
