#include "tools/fat12.h"

#include <gtest/gtest.h>

#include <cstring>

namespace boardsim {
namespace {

void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  Put16(b, at, static_cast<uint16_t>(v));
  Put16(b, at + 2, static_cast<uint16_t>(v >> 16));
}

// A 1.44 MB boot sector as a formatter writes it.
std::vector<uint8_t> BootSector() {
  std::vector<uint8_t> s(512, 0);
  Put16(s, 11, 512);
  s[13] = 1;         // sectors per cluster
  Put16(s, 14, 1);   // reserved
  s[16] = 2;         // FATs
  Put16(s, 17, 224); // root entries
  Put16(s, 19, 2880);
  s[21] = 0xF0;
  Put16(s, 22, 9);   // sectors per FAT
  Put16(s, 24, 18);
  Put16(s, 26, 2);
  std::memcpy(&s[54], "FAT12   ", 8);
  s[510] = 0x55;
  s[511] = 0xAA;
  return s;
}

void SetFat12(std::vector<uint8_t>& fat, uint32_t cluster, uint16_t value) {
  const size_t at = cluster + cluster / 2;
  if (cluster & 1) {
    fat[at] = static_cast<uint8_t>((fat[at] & 0x0F) | ((value << 4) & 0xF0));
    fat[at + 1] = static_cast<uint8_t>(value >> 4);
  } else {
    fat[at] = static_cast<uint8_t>(value);
    fat[at + 1] = static_cast<uint8_t>((fat[at + 1] & 0xF0) | ((value >> 8) & 0x0F));
  }
}

std::vector<uint8_t> Entry(const char name11[12], uint8_t attr, uint16_t cluster,
                           uint32_t size) {
  std::vector<uint8_t> e(32, 0);
  std::memcpy(e.data(), name11, 11);
  e[11] = attr;
  Put16(e, 26, cluster);
  Put32(e, 28, size);
  return e;
}

TEST(Fat12Test, ParsesTheParameterBlockOfA144Diskette) {
  const auto p = ParseBootSector(BootSector());
  ASSERT_TRUE(p);
  EXPECT_EQ(p->SectorsPerTrack, 18);
  EXPECT_EQ(p->Heads, 2);
  EXPECT_EQ(p->TotalSectors, 2880u);
  EXPECT_EQ(p->RootDirSector(), 19u);   // 1 reserved + 2 x 9 FAT sectors
  EXPECT_EQ(p->RootDirSectors(), 14u);  // 224 entries x 32 bytes
  EXPECT_EQ(p->FirstDataSector(), 33u);
  EXPECT_EQ(p->ClusterCount(), 2847u);
  EXPECT_EQ(p->TrackCount(), 160u);
}

TEST(Fat12Test, RefusesBootSectorsItCannotRead) {
  struct Case { const char* what; size_t at; uint16_t value; bool byte; };
  const Case cases[] = {
      {"sector size 1024", 11, 1024, false}, {"cluster size 3", 13, 3, true},
      {"no FATs", 16, 0, true},              {"no root entries", 17, 0, false},
      {"zero sectors per track", 24, 0, false}, {"64 sectors per track", 24, 64, false},
      {"no heads", 26, 0, false},            {"no reserved sectors", 14, 0, false},
      {"tiny disk", 19, 20, false},          {"no FAT sectors", 22, 0, false},
  };
  for (const auto& c : cases) {
    auto s = BootSector();
    if (c.byte) s[c.at] = static_cast<uint8_t>(c.value);
    else Put16(s, c.at, c.value);
    EXPECT_FALSE(ParseBootSector(s)) << c.what;
  }
  EXPECT_FALSE(ParseBootSector(std::vector<uint8_t>(100, 0)));
}

TEST(Fat12Test, BigTotalComesFromTheThirtyTwoBitField) {
  auto s = BootSector();
  Put16(s, 19, 0);
  Put32(s, 32, 2880);
  ASSERT_TRUE(ParseBootSector(s));
  EXPECT_EQ(ParseBootSector(s)->TotalSectors, 2880u);
}

TEST(Fat12Test, ReadsEvenAndOddEntriesAndChains) {
  std::vector<uint8_t> fat(9 * 512, 0);
  SetFat12(fat, 0, 0xFF0);
  SetFat12(fat, 1, 0xFFF);
  SetFat12(fat, 2, 3);
  SetFat12(fat, 3, 4);
  SetFat12(fat, 4, 0xFFF);
  SetFat12(fat, 5, 0xABC);  // odd entry sharing bytes with 4
  EXPECT_EQ(Fat12Entry(fat, 2), 3);
  EXPECT_EQ(Fat12Entry(fat, 4), 0xFFF);
  EXPECT_EQ(Fat12Entry(fat, 5), 0xABC);
  EXPECT_EQ(ChainLength(fat, 2, 2847), 3u);
  EXPECT_EQ(Fat12Entry(fat, 100000), 0xFFF);  // outside the table
  EXPECT_EQ(CountFreeClusters(fat, 10), 6u);  // clusters 2..11: 2-5 used
}

TEST(Fat12Test, ALoopInTheChainEnds) {
  std::vector<uint8_t> fat(512, 0);
  SetFat12(fat, 2, 3);
  SetFat12(fat, 3, 2);
  EXPECT_EQ(ChainLength(fat, 2, 100), 100u);  // bounded by the cluster count
}

TEST(Fat12Test, ListsFilesAndSkipsWhatIsNotAFile) {
  std::vector<uint8_t> dir;
  auto add = [&](const std::vector<uint8_t>& e) { dir.insert(dir.end(), e.begin(), e.end()); };
  add(Entry("MYDISK     ", 0x08, 0, 0));            // volume label
  add(Entry("README  TXT", 0x20, 2, 1234));
  add(Entry("Ab\0\0\0\0\0\0\0\0\0", 0x0F, 0, 0));   // long name piece
  auto deleted = Entry("OLD     BIN", 0x20, 5, 99);
  deleted[0] = 0xE5;
  add(deleted);
  add(Entry("SUBDIR     ", 0x10, 6, 0));
  add(Entry("NOEXT      ", 0x20, 7, 70000));
  add(std::vector<uint8_t>(32, 0));                 // end marker
  add(Entry("HIDDEN  TXT", 0x20, 9, 1));            // behind the end: not listed
  const auto entries = ParseDirectory(dir);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].Name, "README.TXT");
  EXPECT_EQ(entries[0].Size, 1234u);
  EXPECT_EQ(entries[0].FirstCluster, 2);
  EXPECT_EQ(entries[1].Name, "SUBDIR");
  EXPECT_TRUE(entries[1].IsDirectory());
  EXPECT_EQ(entries[2].Name, "NOEXT");
  EXPECT_EQ(entries[2].Size, 70000u);
  EXPECT_EQ(VolumeLabel(dir), "MYDISK");
}

TEST(Fat12Test, PartialEntriesAreIgnored) {
  std::vector<uint8_t> dir = Entry("A       TXT", 0x20, 2, 5);
  dir.resize(50, 'x');  // a cut-off second entry
  EXPECT_EQ(ParseDirectory(dir).size(), 1u);
}

TEST(Fat12Test, LbaToChsOnA144Diskette) {
  struct Case { uint32_t lba; int c, h, s; };
  const Case cases[] = {{0, 0, 0, 1}, {17, 0, 0, 18}, {18, 0, 1, 1}, {36, 1, 0, 1},
                        {2879, 79, 1, 18}};
  for (const auto& k : cases) {
    const TChs chs = LbaToChs(k.lba, 18, 2);
    EXPECT_EQ(chs.Cylinder, k.c) << k.lba;
    EXPECT_EQ(chs.Head, k.h) << k.lba;
    EXPECT_EQ(chs.Sector, k.s) << k.lba;
  }
}

}  // namespace
}  // namespace boardsim
