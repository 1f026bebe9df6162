// Identification of a floppy image by the FAT boot sector in its first 512 bytes.
// A pure function of the sector's bytes: no file, no screen.
#pragma once

#include <cstddef>
#include <cstdint>

namespace floppy {

inline constexpr size_t kBootSectorSize = 512;

enum class TFatType : uint8_t { ftNone, ftFat12, ftFat16, ftFat32 };

// Offsets of the fields read from the boot sector (little-endian).
inline constexpr size_t kOffBytesPerSector = 11;
inline constexpr size_t kOffTotalSectors16 = 19;
inline constexpr size_t kOffSectorsPerTrack = 24;
inline constexpr size_t kOffHeadCount = 26;
inline constexpr size_t kOffFat16Mark = 54;  // "FAT12" / "FAT16"
inline constexpr size_t kOffFat32Mark = 82;  // "FAT32"

struct TBootInfo {
  bool Identified = false;
  TFatType Type = TFatType::ftNone;
  uint16_t BytesPerSector = 0;
  uint16_t TotalSectors16 = 0;
  uint16_t SectorsPerTrack = 0;
  uint16_t HeadCount = 0;
};

// Reads the FAT mark and the geometry fields. A sector is identified when it
// carries "FAT12"/"FAT16" at 54 or (with no "FAT1" there) "FAT32" at 82, and
// its bytes per sector, sectors per track and heads are all nonzero: a zero
// there cannot address any sector.
TBootInfo IdentifyBootSector(const uint8_t* sector);

}  // namespace floppy
