#include "floppy/boot_sector.h"

#include <cstring>

namespace floppy {

namespace {

uint16_t Word(const uint8_t* sector, size_t offset) {
  return static_cast<uint16_t>(sector[offset] | (sector[offset + 1] << 8));
}

bool HasText(const uint8_t* sector, size_t offset, const char* text) {
  return std::memcmp(sector + offset, text, std::strlen(text)) == 0;
}

struct TMarkDigit {
  char Digit;
  TFatType Type;
};
// The fifth character of a "FAT1" mark at offset 54.
constexpr TMarkDigit kFat1Digits[] = {{'2', TFatType::ftFat12}, {'6', TFatType::ftFat16}};

TFatType FatType(const uint8_t* sector) {
  if (HasText(sector, kOffFat16Mark, "FAT1")) {
    // A "FAT1" mark decides alone: with an unknown last digit the FAT32 mark
    // further on is not looked at.
    for (const auto& d : kFat1Digits) {
      if (sector[kOffFat16Mark + 4] == static_cast<uint8_t>(d.Digit)) return d.Type;
    }
    return TFatType::ftNone;
  }
  return HasText(sector, kOffFat32Mark, "FAT32") ? TFatType::ftFat32 : TFatType::ftNone;
}

}  // namespace

TBootInfo IdentifyBootSector(const uint8_t* sector) {
  TBootInfo info;
  info.Type = FatType(sector);
  info.BytesPerSector = Word(sector, kOffBytesPerSector);
  info.TotalSectors16 = Word(sector, kOffTotalSectors16);
  info.SectorsPerTrack = Word(sector, kOffSectorsPerTrack);
  info.HeadCount = Word(sector, kOffHeadCount);
  info.Identified = info.Type != TFatType::ftNone && info.BytesPerSector != 0 &&
                    info.SectorsPerTrack != 0 && info.HeadCount != 0;
  return info;
}

}  // namespace floppy
