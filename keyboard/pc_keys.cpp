#include "keyboard/pc_keys.h"

#include <array>
#include <cstddef>

namespace keyboard {

namespace {

// Virtual key of each main-block scan code on a US layout. The keypad rows
// (0x47-0x53) hold the cursor-key meaning; the window gives keypad digits their
// own virtual keys when Num Lock makes them digits.
constexpr std::array<uint8_t, kLastMainBlockScan + 1> kMainBlockVk = {
    0x00, 0x1B, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36,  // 00-07: -, Esc, 1-6
    0x37, 0x38, 0x39, 0x30, 0xBD, 0xBB, 0x08, 0x09,  // 08-0F: 7-0, - =, Backspace, Tab
    0x51, 0x57, 0x45, 0x52, 0x54, 0x59, 0x55, 0x49,  // 10-17: Q W E R T Y U I
    0x4F, 0x50, 0xDB, 0xDD, 0x0D, 0x11, 0x41, 0x53,  // 18-1F: O P [ ] Enter Ctrl A S
    0x44, 0x46, 0x47, 0x48, 0x4A, 0x4B, 0x4C, 0xBA,  // 20-27: D F G H J K L ;
    0xDE, 0xC0, 0x10, 0xDC, 0x5A, 0x58, 0x43, 0x56,  // 28-2F: ' ` LShift \ Z X C V
    0x42, 0x4E, 0x4D, 0xBC, 0xBE, 0xBF, 0x10, 0x6A,  // 30-37: B N M , . / RShift KP*
    0x12, 0x20, 0x14, 0x70, 0x71, 0x72, 0x73, 0x74,  // 38-3F: Alt Space Caps F1-F5
    0x75, 0x76, 0x77, 0x78, 0x79, 0x90, 0x91, 0x24,  // 40-47: F6-F10 NumLock Scroll Home
    0x26, 0x21, 0x6D, 0x25, 0x0C, 0x27, 0x6B, 0x23,  // 48-4F: Up PgUp KP- Left Clear Right KP+ End
    0x28, 0x22, 0x2D, 0x2E, 0x00, 0x00, 0xE2, 0x7A,  // 50-57: Down PgDn Ins Del - - <> F11
    0x7B,                                            // 58: F12
};

// Letters A-Z in alphabetical order.
constexpr std::array<uint8_t, 26> kLetterScan = {
    0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x22, 0x23, 0x17, 0x24, 0x25, 0x26, 0x32,
    0x31, 0x18, 0x19, 0x10, 0x13, 0x1F, 0x14, 0x16, 0x2F, 0x11, 0x2D, 0x15, 0x2C,
};

// The other character keys of the main block: scan code, character without and
// with Shift (0: none).
struct TCharKey {
  uint8_t Scan;
  char Normal;
  char Shifted;
};
constexpr std::array<TCharKey, 22> kCharKeys = {{
    {0x02, '1', '!'}, {0x03, '2', '@'}, {0x04, '3', '#'}, {0x05, '4', '$'}, {0x06, '5', '%'},
    {0x07, '6', '^'}, {0x08, '7', '&'}, {0x09, '8', '*'}, {0x0A, '9', '('}, {0x0B, '0', ')'},
    {0x0C, '-', '_'}, {0x0D, '=', '+'}, {0x1A, '[', '{'}, {0x1B, ']', '}'}, {0x27, ';', ':'},
    {0x28, '\'', '"'}, {0x29, '`', '~'}, {0x2B, '\\', '|'}, {0x33, ',', '<'}, {0x34, '.', '>'},
    {0x35, '/', '?'}, {0x39, ' ', 0},
}};

constexpr uint8_t kFirstPrintable = 0x20;
constexpr uint8_t kLastPrintable = 0x7E;

// Indexed by the character 0x00-0x7F.
constexpr std::array<TUsKey, 128> MakeUsLayout() {
  std::array<TUsKey, 128> table{};
  for (size_t i = 0; i < kLetterScan.size(); ++i) {
    table['a' + i] = {kLetterScan[i], false};
    table['A' + i] = {kLetterScan[i], true};
  }
  for (const auto& key : kCharKeys) {
    table[static_cast<uint8_t>(key.Normal)] = {key.Scan, false};
    if (key.Shifted != 0) table[static_cast<uint8_t>(key.Shifted)] = {key.Scan, true};
  }
  return table;
}
constexpr std::array<TUsKey, 128> kUsLayout = MakeUsLayout();

}  // namespace

uint8_t MainBlockVirtualKey(uint8_t scan) {
  return scan <= kLastMainBlockScan ? kMainBlockVk[scan] : 0;
}

TUsKey UsLayoutKeyOf(uint8_t character) {
  if (character < kFirstPrintable || character > kLastPrintable) return {};
  return kUsLayout[character];
}

}  // namespace keyboard
