#include "keyboard/key_table.h"

#include <gtest/gtest.h>

namespace keyboard {
namespace {

TEST(KeyTable, EightyFiveRowsProduceACode) {
  int producing = 0;
  for (const auto& row : KeyTable) {
    if (row[kColBiosScan] != 0) ++producing;
  }
  EXPECT_EQ(producing, 85);
}

TEST(KeyTable, SilentRows) {
  EXPECT_EQ(KeyTable[0x00], (TKeyRow{0, 0, 0, 0, 0, 0, 0, 0}));
  for (size_t scan : {0x54u, 0x55u, 0x56u, 0x59u, 0x60u, 0x7Fu}) {
    SCOPED_TRACE(scan);
    EXPECT_EQ(KeyTable[scan], (TKeyRow{0, 0, 0xFF, 0, 0, 0, 0, 0}));
  }
  for (size_t scan = 0x80; scan < kKeyTableRows; ++scan) {
    SCOPED_TRACE(scan);
    EXPECT_EQ(KeyTable[scan], (TKeyRow{}));
  }
}

TEST(KeyTable, MainBlockRowsCarryTheirOwnScanCode) {
  // Rows 0x01-0x53 and nothing else map a PC scan code onto the same BIOS scan code.
  for (size_t scan = 0x01; scan <= 0x53; ++scan) {
    SCOPED_TRACE(scan);
    EXPECT_EQ(KeyTable[scan][kColBiosScan], scan);
  }
}

TEST(KeyTable, ModifierAndLockRowsClearExactlyTheirOwnBit) {
  struct TCase {
    size_t Scan;
    uint8_t Bit;
  };
  for (const TCase c : {TCase{0x36, 0x01}, {0x2A, 0x02}, {0x1D, 0x04}, {0x38, 0x08},
                        {0x46, 0x10}, {0x45, 0x20}, {0x3A, 0x40}}) {
    SCOPED_TRACE(c.Scan);
    EXPECT_EQ(KeyTable[c.Scan][kColStateBit], c.Bit);
    EXPECT_EQ(KeyTable[c.Scan][kColAndMask], static_cast<uint8_t>(~c.Bit));
  }
  int stateRows = 0;
  for (const auto& row : KeyTable) {
    if (row[kColStateBit] != 0) ++stateRows;
  }
  EXPECT_EQ(stateRows, 7);
}

TEST(KeyTable, SampleRows) {
  EXPECT_EQ(KeyTable[0x01], (TKeyRow{0x01, 0x1B, 0xFF, 0, 0, 0, 0, 0}));           // Esc
  EXPECT_EQ(KeyTable[0x03], (TKeyRow{0x03, 0x32, 0xFF, 0, 0x40, 0, 0, 0}));        // 2 @
  EXPECT_EQ(KeyTable[0x28], (TKeyRow{0x28, 0x27, 0xFF, 0, 0x22, 0, 0, 0}));        // ' "
  EXPECT_EQ(KeyTable[0x2B], (TKeyRow{0x2B, 0x5C, 0xFF, 0, 0x7C, 0, 0, 0}));        // \ |
  EXPECT_EQ(KeyTable[0x3B], (TKeyRow{0x3B, 0, 0xFF, 0, 0x54, 0, 0x5E, 0x68}));     // F1
  EXPECT_EQ(KeyTable[0x44], (TKeyRow{0x44, 0, 0xFF, 0, 0x5D, 0, 0x67, 0x71}));     // F10
  EXPECT_EQ(KeyTable[0x4C], (TKeyRow{0x4C, 0x35, 0xFF, 0, 0, 0, 0, 0}));           // keypad 5
  EXPECT_EQ(KeyTable[0x53], (TKeyRow{0x53, 0x2E, 0xFF, 0, 0, 0xE0, 0, 0}));        // keypad .
  EXPECT_EQ(KeyTable[0x57], (TKeyRow{0x85, 0, 0xFF, 0, 0x87, 0, 0x89, 0x8B}));     // F11
  EXPECT_EQ(KeyTable[0x58], (TKeyRow{0x86, 0, 0xFF, 0, 0x88, 0, 0x8A, 0x8C}));     // F12
}

TEST(KeyTable, KeypadMarkOnlyOnTheKeysThatDoubleAsCursorKeys) {
  std::vector<size_t> marked;
  for (size_t scan = 0; scan < kKeyTableRows; ++scan) {
    if (KeyTable[scan][kColKeypad] != 0) marked.push_back(scan);
  }
  EXPECT_EQ(marked, (std::vector<size_t>{0x47, 0x48, 0x49, 0x4B, 0x4D, 0x4F, 0x50, 0x51, 0x52,
                                         0x53}));
}

}  // namespace
}  // namespace keyboard
