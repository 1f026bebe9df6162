#include "floppy/floppy_image.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include "tests/support/param_names.h"
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "tests/floppy/floppy_fixture.h"

namespace {

using floppytest::BootSector;
using floppytest::Bytes;
using floppytest::Image144;
using floppytest::TCapturedFloppy;
using floppytest::TTempDir;
using Lines = std::vector<std::string>;

class FloppyImageTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(Dir.Path.empty()); }
  std::string Make(const std::string& name, const Bytes& content) {
    const std::string path = Dir.File(name);
    floppytest::WriteFile(path, content);
    return path;
  }
  void ExpectGeometry(uint32_t bytes, uint32_t heads, uint32_t sectors) {
    EXPECT_EQ(F.Floppy.BytesPerSector, bytes);
    EXPECT_EQ(F.Floppy.HeadCount, heads);
    EXPECT_EQ(F.Floppy.SectorsPerTrack, sectors);
  }
  TTempDir Dir;
  TCapturedFloppy F;
};

TEST_F(FloppyImageTest, Fat12DisketteIsIdentifiedAndReported) {
  F.Floppy.SectorsPerTrack = 9;  // as left by an earlier image
  ASSERT_TRUE(F.Floppy.OpenImage(Make("a.img", Image144()), false));
  EXPECT_EQ(F.Messages, (Lines{"Bytes Per Sector :  512\r\n", "Total Sector 16  :  2880\r\n",
                               "Sectors Per Track:  18\r\n", "Number Heads     :  2\r\n"}));
  ExpectGeometry(512, 2, 18);
  EXPECT_FALSE(F.Floppy.ReadOnly);
  EXPECT_EQ(F.Screen.ScreenDirty, 1);
  EXPECT_EQ(F.Floppy.BootSector[510], 0x55);
}

TEST_F(FloppyImageTest, Fat32IsAcceptedWithTotalZero) {
  ASSERT_TRUE(
      F.Floppy.OpenImage(Make("b.img", Image144(BootSector("FAT32", 512, 0, 63, 255))), false));
  EXPECT_EQ(F.Messages, (Lines{"Bytes Per Sector :  512\r\n", "Total Sector 16  :  0\r\n",
                               "Sectors Per Track:  63\r\n", "Number Heads     :  255\r\n",
                               "Warning: not a 1.44 MB diskette (bytes 1474560, sectors per track 63, heads 255)\r\n"}));
  ExpectGeometry(512, 255, 63);
}

TEST_F(FloppyImageTest, TotalPrintsUnsigned) {
  ASSERT_TRUE(F.Floppy.OpenImage(Make("c.img", Image144(BootSector("FAT16", 512, 0x8000))), false));
  ASSERT_EQ(F.Messages.size(), 4u);
  EXPECT_EQ(F.Messages[1], "Total Sector 16  :  32768\r\n");
}

// Images that cannot be identified stay open and keep the geometry of the last
// identified one.
TEST_F(FloppyImageTest, UnidentifiedImageKeepsGeometryInForce) {
  ASSERT_TRUE(
      F.Floppy.OpenImage(Make("d.img", Image144(BootSector("FAT12", 512, 720, 9, 1))), false));
  ExpectGeometry(512, 1, 9);
  Bytes refused = BootSector("FAT1X", 512, 2880, 36, 2);
  floppytest::PutText(refused, 82, "FAT32");
  const Bytes zeroHeads = BootSector("FAT12", 512, 2880, 18, 0);
  for (const Bytes& boot : {refused, zeroHeads, BootSector("")}) {
    F.Messages.clear();
    F.Screen.ScreenDirty = 0;
    EXPECT_TRUE(F.Floppy.OpenImage(Make("e.img", Image144(boot)), false));
    EXPECT_EQ(F.Messages, (Lines{"Can't Identify image\r\n",
                                 "Warning: not a 1.44 MB diskette (bytes 1474560, sectors per track 9, heads 1)\r\n"}));
    EXPECT_TRUE(F.Floppy.HasImage());
    EXPECT_EQ(F.Screen.ScreenDirty, 1);
    ExpectGeometry(512, 1, 9);
  }
  // A file shorter than a boot sector is not identified from stale bytes.
  F.Messages.clear();
  const Bytes boot = BootSector("FAT12");
  EXPECT_TRUE(F.Floppy.OpenImage(Make("f.img", Bytes(boot.begin(), boot.begin() + 300)), false));
  EXPECT_EQ(F.Messages, (Lines{"Can't Identify image\r\n",
                               "Warning: not a 1.44 MB diskette (bytes 300, sectors per track 9, heads 1)\r\n"}));
}

TEST_F(FloppyImageTest, SectorSizeOtherThan512IsRefused) {
  EXPECT_FALSE(
      F.Floppy.OpenImage(Make("g.img", Image144(BootSector("FAT12", 1024, 1440, 9, 2))), false));
  EXPECT_EQ(F.Messages, (Lines{"Bytes Per Sector :  1024\r\n", "Total Sector 16  :  1440\r\n",
                               "Sectors Per Track:  9\r\n", "Number Heads     :  2\r\n",
                               "Can't support sector size not equal 512\r\n"}));
  EXPECT_FALSE(F.Floppy.HasImage());
  ExpectGeometry(512, 2, 18);
}

TEST_F(FloppyImageTest, OpenFailuresLeaveNoImage) {
  const std::string fifo = Dir.File("pipe.img");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_TRUE(F.Floppy.OpenImage(Make("h.img", Image144()), false));
  for (const std::string& name : {Dir.File("nothing.img"), Dir.Path, fifo}) {
    F.Messages.clear();
    EXPECT_FALSE(F.Floppy.OpenImage(name, false));
    EXPECT_EQ(F.Messages, (Lines{"Can not open image file " + name + "\r\n"}));
    EXPECT_FALSE(F.Floppy.HasImage());
  }
}

TEST_F(FloppyImageTest, ReadOnlyRequestAndPermissionFallback) {
  const std::string name = Make("i.img", Image144());
  ASSERT_TRUE(F.Floppy.OpenImage(name, true));
  EXPECT_TRUE(F.Floppy.ReadOnly);
  EXPECT_EQ(F.Messages.size(), 4u);

  F.Messages.clear();
  F.Floppy.OpenFunction = [](const char* path, int flags) {
    if ((flags & O_ACCMODE) != O_RDONLY) {
      errno = EROFS;
      return -1;
    }
    return ::open(path, flags);
  };
  ASSERT_TRUE(F.Floppy.OpenImage(name, false));
  EXPECT_TRUE(F.Floppy.ReadOnly);
  ASSERT_EQ(F.Messages.size(), 5u);
  EXPECT_EQ(F.Messages[0], "Image file " + name + " is read-only: writes are refused\r\n");

  F.Floppy.CloseImage();
  EXPECT_FALSE(F.Floppy.ReadOnly);
  EXPECT_FALSE(F.Floppy.HasImage());
  F.Floppy.CloseImage();  // nothing open: nothing happens
}

TEST_F(FloppyImageTest, TrackBufferFollowsGeometry) {
  ASSERT_TRUE(F.Floppy.AllocTrackBuffer());
  EXPECT_EQ(F.Floppy.TrackBuffer.size(), 18u * 512u);
  F.Floppy.SectorsPerTrack = 36;
  ASSERT_TRUE(F.Floppy.AllocTrackBuffer());
  EXPECT_EQ(F.Floppy.TrackBuffer.size(), 36u * 512u);
  F.Floppy.FreeTrackBuffer();
  EXPECT_FALSE(F.Floppy.HasTrackBuffer());
  F.Floppy.FreeTrackBuffer();
  EXPECT_TRUE(F.Messages.empty());

  F.Floppy.TrackBufferLimit = 36u * 512u - 1;
  EXPECT_FALSE(F.Floppy.AllocTrackBuffer());
  EXPECT_EQ(F.Messages, (Lines{"internal error: not enough memory!\r\n"}));
  EXPECT_FALSE(F.Floppy.HasTrackBuffer());
}

struct TChsCase {
  int16_t Cylinder, Head, Sector;
  uint32_t Heads, Sectors;
  int32_t Offset;
};

class ChsToOffsetTest : public ::testing::TestWithParam<TChsCase> {};

TEST_P(ChsToOffsetTest, Computes) {
  const auto& c = GetParam();
  TCapturedFloppy f;
  f.Floppy.HeadCount = c.Heads;
  f.Floppy.SectorsPerTrack = c.Sectors;
  EXPECT_EQ(f.Floppy.ChsToOffset(c.Cylinder, c.Head, c.Sector), c.Offset);
}

INSTANTIATE_TEST_SUITE_P(
    Geometries, ChsToOffsetTest,
    ::testing::Values(TChsCase{0, 0, 1, 2, 18, 0}, TChsCase{1, 0, 1, 2, 18, 18432},
                      TChsCase{0, 1, 1, 2, 18, 9216}, TChsCase{79, 1, 18, 2, 18, 1474048},
                      TChsCase{0, 0, 0, 2, 18, -512}, TChsCase{2, 1, 5, 1, 9, 15872},
                      TChsCase{-1, 0, 1, 2, 18, -18432}), testsupport::TIndexName());

TEST(FloppyMessages, GoToTheScreenByDefault) {
  display::TScreen screen;
  floppy::TFloppy floppy(screen);
  floppy.Print("Can not open image file %s\r\n", "x.img");
  std::string row;
  for (int col = 0; col < 30; ++col) row += static_cast<char>(screen.Cell(col, 0).Char);
  EXPECT_EQ(row.substr(0, 29), "Can not open image file x.img");
  EXPECT_EQ(screen.CursorRow, 1);
  EXPECT_EQ(screen.CursorCol, 0);
}

}  // namespace
