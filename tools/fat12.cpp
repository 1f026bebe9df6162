#include "tools/fat12.h"

#include <algorithm>

namespace boardsim {

namespace {

uint16_t Word(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
uint32_t Dword(std::span<const uint8_t> b, size_t at) {
  return uint32_t{Word(b, at)} | (uint32_t{Word(b, at + 2)} << 16);
}

constexpr size_t kEntrySize = 32;
constexpr uint8_t kAttrVolume = 0x08;
constexpr uint8_t kAttrLongName = 0x0F;

std::string Trimmed(std::span<const uint8_t> field) {
  std::string s(field.begin(), field.end());
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

}  // namespace

uint32_t TBootParams::ClusterCount() const {
  if (SectorsPerCluster == 0 || TotalSectors <= FirstDataSector()) return 0;
  return (TotalSectors - FirstDataSector()) / SectorsPerCluster;
}

uint32_t TBootParams::TrackCount() const {
  if (SectorsPerTrack == 0) return 0;
  return (TotalSectors + SectorsPerTrack - 1) / SectorsPerTrack;
}

void WriteDisketteBootSector(std::span<uint8_t> sector) {
  auto put16 = [&](size_t at, uint16_t v) {
    sector[at] = static_cast<uint8_t>(v);
    sector[at + 1] = static_cast<uint8_t>(v >> 8);
  };
  put16(11, 512);
  sector[13] = 1;
  put16(14, 1);
  sector[16] = 2;
  put16(17, 224);
  put16(19, 2880);
  sector[21] = 0xF0;
  put16(22, 9);
  put16(24, 18);
  put16(26, 2);
  std::copy_n("FAT12   ", 8, sector.begin() + 54);
  sector[510] = 0x55;
  sector[511] = 0xAA;
}

std::optional<TBootParams> ParseBootSector(std::span<const uint8_t> s) {
  if (s.size() < 512) return std::nullopt;
  TBootParams p;
  p.BytesPerSector = Word(s, 11);
  p.SectorsPerCluster = s[13];
  p.ReservedSectors = Word(s, 14);
  p.FatCount = s[16];
  p.RootEntries = Word(s, 17);
  p.TotalSectors = Word(s, 19);
  if (p.TotalSectors == 0) p.TotalSectors = Dword(s, 32);
  p.SectorsPerFat = Word(s, 22);
  p.SectorsPerTrack = Word(s, 24);
  p.Heads = Word(s, 26);
  const bool powerOfTwo = p.SectorsPerCluster != 0 &&
                          (p.SectorsPerCluster & (p.SectorsPerCluster - 1)) == 0;
  if (p.BytesPerSector != 512 || !powerOfTwo || p.ReservedSectors == 0 || p.FatCount == 0 ||
      p.FatCount > 4 || p.RootEntries == 0 || p.SectorsPerFat == 0 || p.SectorsPerTrack == 0 ||
      p.SectorsPerTrack > 63 || p.Heads == 0 || p.Heads > 255 || p.TotalSectors == 0)
    return std::nullopt;
  // The disk calls address cylinders with one byte.
  if (p.TotalSectors > uint32_t{256} * p.Heads * p.SectorsPerTrack) return std::nullopt;
  if (p.FirstDataSector() >= p.TotalSectors) return std::nullopt;
  return p;
}

uint16_t Fat12Entry(std::span<const uint8_t> fat, uint32_t cluster) {
  const size_t at = static_cast<size_t>(cluster) + cluster / 2;  // 1.5 bytes per entry
  if (at + 1 >= fat.size()) return 0xFFF;
  const uint16_t pair = Word(fat, at);
  return (cluster & 1) ? static_cast<uint16_t>(pair >> 4) : static_cast<uint16_t>(pair & 0xFFF);
}

uint32_t CountFreeClusters(std::span<const uint8_t> fat, uint32_t clusterCount) {
  uint32_t free = 0;
  for (uint32_t c = 2; c < clusterCount + 2; ++c)
    if (Fat12Entry(fat, c) == 0) ++free;
  return free;
}

uint32_t ChainLength(std::span<const uint8_t> fat, uint16_t first, uint32_t clusterCount) {
  uint32_t n = 0;
  uint32_t c = first;
  while (c >= 2 && c < clusterCount + 2 && n <= clusterCount) {
    ++n;
    c = Fat12Entry(fat, c);
  }
  return std::min(n, clusterCount);
}

std::vector<TDirEntry> ParseDirectory(std::span<const uint8_t> entries) {
  std::vector<TDirEntry> out;
  for (size_t at = 0; at + kEntrySize <= entries.size(); at += kEntrySize) {
    const auto e = entries.subspan(at, kEntrySize);
    if (e[0] == 0x00) break;   // no entries behind this one
    if (e[0] == 0xE5) continue;  // deleted
    const uint8_t attr = e[11];
    if (attr == kAttrLongName || (attr & kAttrVolume)) continue;
    TDirEntry d;
    std::string base = Trimmed(e.first(8));
    if (!base.empty() && static_cast<uint8_t>(base[0]) == 0x05) base[0] = '\xE5';
    const std::string ext = Trimmed(e.subspan(8, 3));
    d.Name = ext.empty() ? base : base + "." + ext;
    d.Attributes = attr;
    d.FirstCluster = Word(e, 26);
    d.Size = Dword(e, 28);
    out.push_back(std::move(d));
  }
  return out;
}

std::optional<std::string> VolumeLabel(std::span<const uint8_t> entries) {
  for (size_t at = 0; at + kEntrySize <= entries.size(); at += kEntrySize) {
    const auto e = entries.subspan(at, kEntrySize);
    if (e[0] == 0x00) break;
    if (e[0] == 0xE5 || e[11] == kAttrLongName) continue;
    if (e[11] & kAttrVolume) return Trimmed(e.first(11));
  }
  return std::nullopt;
}

TChs LbaToChs(uint32_t lba, uint16_t sectorsPerTrack, uint16_t heads) {
  TChs chs;
  if (sectorsPerTrack == 0 || heads == 0) return chs;
  const uint32_t track = lba / sectorsPerTrack;
  chs.Sector = static_cast<uint8_t>(lba % sectorsPerTrack + 1);
  chs.Head = static_cast<uint8_t>(track % heads);
  chs.Cylinder = static_cast<uint8_t>(track / heads);
  return chs;
}

}  // namespace boardsim
