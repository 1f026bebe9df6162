// Reading a FAT12 diskette: the boot sector's parameter block, the FAT and the
// root directory, all from bytes the board has fetched through disk calls.
// Every accessor is bounds-checked: a damaged image gives wrong answers, never
// a read outside the buffers.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace boardsim {

struct TBootParams {
  uint16_t BytesPerSector = 0;
  uint8_t SectorsPerCluster = 0;
  uint16_t ReservedSectors = 0;
  uint8_t FatCount = 0;
  uint16_t RootEntries = 0;
  uint32_t TotalSectors = 0;
  uint16_t SectorsPerFat = 0;
  uint16_t SectorsPerTrack = 0;
  uint16_t Heads = 0;

  uint32_t RootDirSector() const { return ReservedSectors + uint32_t{FatCount} * SectorsPerFat; }
  uint32_t RootDirSectors() const { return (uint32_t{RootEntries} * 32 + 511) / 512; }
  uint32_t FirstDataSector() const { return RootDirSector() + RootDirSectors(); }
  uint32_t ClusterCount() const;
  uint32_t TrackCount() const;  // cylinders x heads, rounded up
};

// Writes the parameter block of a 1.44 MB FAT12 diskette (512-byte sectors, one
// reserved sector, two FATs of 9 sectors, 224 root entries, 2880 sectors, 18
// sectors per track, 2 heads), the "FAT12" mark and the 55 AA signature into the
// first 512 bytes of `sector`; every other byte is left as it is.
void WriteDisketteBootSector(std::span<uint8_t> sector);

// Accepts only what this board can read: 512-byte sectors, sane counts, and a
// layout that fits into the total sector count.
std::optional<TBootParams> ParseBootSector(std::span<const uint8_t> sector);

// The 12-bit FAT entry of a cluster; 0xFFF (end of chain) when outside the table.
uint16_t Fat12Entry(std::span<const uint8_t> fat, uint32_t cluster);
uint32_t CountFreeClusters(std::span<const uint8_t> fat, uint32_t clusterCount);
// Clusters in the chain from `first`; stops at the end mark, a bad link or a loop.
uint32_t ChainLength(std::span<const uint8_t> fat, uint16_t first, uint32_t clusterCount);

struct TDirEntry {
  std::string Name;  // "NAME.EXT"
  uint32_t Size = 0;
  uint8_t Attributes = 0;
  uint16_t FirstCluster = 0;
  bool IsDirectory() const { return (Attributes & 0x10) != 0; }
};

// Files and subdirectories of a root directory region (deleted entries, long
// name pieces and the volume label left out); stops at the end marker.
std::vector<TDirEntry> ParseDirectory(std::span<const uint8_t> entries);
// The volume label of the directory, if it has one.
std::optional<std::string> VolumeLabel(std::span<const uint8_t> entries);

struct TChs {
  uint8_t Cylinder = 0;
  uint8_t Head = 0;
  uint8_t Sector = 1;  // from 1
};
TChs LbaToChs(uint32_t lba, uint16_t sectorsPerTrack, uint16_t heads);

}  // namespace boardsim
