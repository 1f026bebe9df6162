#include "floppy/boot_sector.h"

#include <gtest/gtest.h>

#include "tests/floppy/floppy_fixture.h"

namespace {

using floppy::IdentifyBootSector;
using floppy::TFatType;
using floppytest::BootSector;
using floppytest::Bytes;
using floppytest::PutText;

struct TMarkCase {
  const char* Name;
  Bytes Sector;
  bool Identified;
  TFatType Type;
};

class BootSectorMarks : public ::testing::TestWithParam<TMarkCase> {};

TEST_P(BootSectorMarks, DecideTheType) {
  const auto& c = GetParam();
  const auto info = IdentifyBootSector(c.Sector.data());
  EXPECT_EQ(info.Identified, c.Identified);
  EXPECT_EQ(info.Type, c.Type);
}

Bytes Fat1XWithFat32() {
  Bytes b = BootSector("FAT1X");
  PutText(b, 82, "FAT32");
  return b;
}

Bytes Fat32MarkOneOff() {
  Bytes b = BootSector("");
  PutText(b, 81, "FAT32");
  return b;
}

INSTANTIATE_TEST_SUITE_P(
    Marks, BootSectorMarks,
    ::testing::Values(
        TMarkCase{"Fat12", BootSector("FAT12"), true, TFatType::ftFat12},
        TMarkCase{"Fat16", BootSector("FAT16"), true, TFatType::ftFat16},
        TMarkCase{"Fat32", BootSector("FAT32"), true, TFatType::ftFat32},
        TMarkCase{"Fat1XRefusedDespiteFat32", Fat1XWithFat32(), false, TFatType::ftNone},
        TMarkCase{"Fat32AtWrongOffset", Fat32MarkOneOff(), false, TFatType::ftNone},
        TMarkCase{"NoMark", BootSector(""), false, TFatType::ftNone},
        TMarkCase{"LowerCase", BootSector("fat12"), false, TFatType::ftNone},
        TMarkCase{"ZeroSectorsPerTrack", BootSector("FAT12", 512, 2880, 0, 2), false,
                  TFatType::ftFat12},
        TMarkCase{"ZeroHeads", BootSector("FAT16", 512, 2880, 18, 0), false, TFatType::ftFat16},
        TMarkCase{"ZeroBytesPerSector", BootSector("FAT32", 0, 0, 18, 2), false,
                  TFatType::ftFat32}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(BootSector, ReadsTheGeometryLittleEndian) {
  const Bytes b = BootSector("FAT16", 0x0400, 0x8000, 0x0120, 0x0302);
  const auto info = IdentifyBootSector(b.data());
  EXPECT_TRUE(info.Identified);
  EXPECT_EQ(info.BytesPerSector, 1024);
  EXPECT_EQ(info.TotalSectors16, 32768);
  EXPECT_EQ(info.SectorsPerTrack, 288);
  EXPECT_EQ(info.HeadCount, 770);
}

}  // namespace
