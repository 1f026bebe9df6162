// Image files that are empty, shrink while served, or carry absurd geometry:
// every request gets an answer, nothing is read or written out of bounds and
// the file never grows.
#include <gtest/gtest.h>
#include <unistd.h>

#include "floppy/disk_service.h"
#include "floppy/floppy_image.h"
#include "tests/floppy/floppy_fixture.h"
#include "tests/support/core_fixture.h"

namespace {

using floppytest::Bytes;
using testsupport::Cat;
using testsupport::ReplyBytes;
using testsupport::RequestBytes;

constexpr uint8_t kDisk = 0x13;
constexpr uint16_t kCarry = wire::kFlagCarry;

class ImageHardening : public ::testing::Test {
 protected:
  void SetUp() override {
    Name = Dir.File("disk.img");
    Core.Loop.SetHandler(kDisk, [this] { floppy::DiskService(Core.Link, Floppy); });
  }
  Bytes Run() {
    Core.Loop.Maincycle();
    Core.Link.AbortRequested = 0;
    return Core.Board.TakeWritten();
  }
  void Serve(const Bytes& image) {
    floppytest::WriteFile(Name, image);
    ASSERT_TRUE(Floppy.OpenImage(Name, false));
    ASSERT_TRUE(Floppy.AllocTrackBuffer());
  }

  floppytest::TTempDir Dir;
  std::string Name;
  testsupport::TCore Core;
  std::vector<std::string> Messages;
  floppy::TFloppy Floppy{Core.Screen, [this](const std::string& m) { Messages.push_back(m); }};
};

TEST_F(ImageHardening, EmptyFileIsServedButEveryReadIsOutsideIt) {
  Serve({});
  EXPECT_EQ(Messages, (std::vector<std::string>{
                          "Can't Identify image\r\n",
                          "Warning: not a 1.44 MB diskette (bytes 0, sectors per track 18, heads 2)\r\n"}));
  Core.Board.Send(RequestBytes(kDisk, 0x0201, 0, 0x0001, 0)).Ack();
  EXPECT_EQ(Run(), Cat({{0x55}, ReplyBytes(0, 0x0400, 0, 0x0001, 0, kCarry)}));
  EXPECT_EQ(std::filesystem::file_size(Name), 0u);
}

TEST_F(ImageHardening, ImageThatShrinksWhileServedRefusesWhatIsGone) {
  Serve(floppytest::Image144());
  ASSERT_EQ(::truncate(Name.c_str(), 9216), 0);  // only cylinder 0, head 0 is left
  // Head 1 of cylinder 0 is gone now: read refused, write takes its block and writes nothing.
  Core.Board.Send(RequestBytes(kDisk, 0x0201, 0, 0x0001, 0x0100)).Ack();
  Core.Board.Send(RequestBytes(kDisk, 0x0301, 0, 0x0001, 0x0100)).Ack();
  Core.Board.Send(testsupport::BlockBytes(0x5A)).Ack();
  EXPECT_EQ(Run(), Cat({{0x55}, ReplyBytes(0, 0x0400, 0, 0x0001, 0x0100, kCarry),
                        {0x55}, ReplyBytes(10, 0x0301, 0, 0x0001, 0x0100, kCarry),
                        {0x55}, ReplyBytes(10, 0x0400, 0, 0x0001, 0x0100, kCarry)}));
  EXPECT_EQ(std::filesystem::file_size(Name), 9216u);
}

TEST_F(ImageHardening, AbsurdGeometryIsAnsweredWithoutTouchingMemoryOrFile) {
  Bytes image = floppytest::Image144(floppytest::BootSector("FAT12", 512, 0xFFFF, 0xFFFF, 0xFFFF));
  Serve(image);
  EXPECT_EQ(Floppy.SectorsPerTrack, 0xFFFFu);
  EXPECT_EQ(Floppy.HeadCount, 0xFFFFu);
  // Largest count and address the registers can name: far beyond the file.
  Core.Board.Send(RequestBytes(kDisk, 0x02FF, 0, 0xFFFF, 0xFF00)).Ack();
  Core.Board.Send(RequestBytes(kDisk, 0x0301, 0, 0xFFFF, 0xFF00)).Ack();
  Core.Board.Send(testsupport::BlockBytes(0x5A)).Ack();
  EXPECT_EQ(Run(), Cat({{0x55}, ReplyBytes(0, 0x0400, 0, 0xFFFF, 0xFF00, kCarry),
                        {0x55}, ReplyBytes(10, 0x0301, 0, 0xFFFF, 0xFF00, kCarry),
                        {0x55}, ReplyBytes(10, 0x0400, 0, 0xFFFF, 0xFF00, kCarry)}));
  EXPECT_EQ(floppytest::ReadFile(Name), image);
}

TEST_F(ImageHardening, AddressPast4GiBDoesNotWrapOntoTheStartOfTheImage) {
  Bytes image = floppytest::Image144(floppytest::BootSector("FAT12", 512, 0xFFFF, 0xFFFF, 0xFFFF));
  Serve(image);
  // Head 0x80, sector 0x82 of cylinder 0 lies at 2^32 + 512: in 32 bits that
  // is sector 2 of the file, which must be neither read nor written.
  Core.Board.Send(RequestBytes(kDisk, 0x0201, 0, 0x0082, 0x8000)).Ack();
  Core.Board.Send(RequestBytes(kDisk, 0x0301, 0, 0x0082, 0x8000)).Ack();
  Core.Board.Send(testsupport::BlockBytes(0x5A)).Ack();
  // Sector 2 itself, addressed as it is, is served.
  Core.Board.Send(RequestBytes(kDisk, 0x0201, 0, 0x0002, 0x0000)).Ack().Ack();
  const Bytes sector2(image.begin() + 512, image.begin() + 1024);
  EXPECT_EQ(Run(), Cat({{0x55}, ReplyBytes(0, 0x0400, 0, 0x0082, 0x8000, kCarry),
                        {0x55}, ReplyBytes(10, 0x0301, 0, 0x0082, 0x8000, kCarry),
                        {0x55}, ReplyBytes(10, 0x0400, 0, 0x0082, 0x8000, kCarry),
                        {0x55}, ReplyBytes(10, 0x0001, 0, 0x0002, 0x0000, 0),
                        testsupport::BlockBytes(sector2.data())}));
  EXPECT_EQ(floppytest::ReadFile(Name), image);
}

}  // namespace
