// Another diskette while connected, write protection, the lock on the image
// and the messages that tell the user what is served.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "floppy/disk_service.h"
#include "floppy/floppy_image.h"
#include "tests/floppy/floppy_fixture.h"
#include "tests/support/core_fixture.h"
#include "tests/support/param_names.h"

namespace {

using floppytest::Bytes;
using floppytest::Image144;
using testsupport::BlockBytes;
using testsupport::Cat;
using testsupport::ReplyBytes;
using testsupport::RequestBytes;
using Lines = std::vector<std::string>;

constexpr uint16_t kCarry = wire::kFlagCarry;
const Bytes kAckByte{wire::kAck};

// `flock -n` (util-linux) on the file: 0 when it could take the lock at once.
int FlockTool(const std::string& path, bool shared) {
  const std::string cmd = std::string("flock -n ") + (shared ? "-s " : "") + "'" + path + "' true";
  const int status = std::system(cmd.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class ImageChangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Dir.Path.empty());
    A = Dir.File("a.img");
    B = Dir.File("b.img");
    ImageA = Image144();
    ImageB = Image144();
    for (size_t i = 512; i < ImageB.size(); ++i) ImageB[i] = static_cast<uint8_t>(~ImageB[i]);
    floppytest::WriteFile(A, ImageA);
    floppytest::WriteFile(B, ImageB);
    Core.Loop.SetHandler(0x13, [this] { floppy::DiskService(Core.Link, Floppy); });
    Core.Loop.BetweenRequests = [this] { Floppy.ApplyPending(); };
    Floppy.OnImageMessage = [this](const std::string& line) { Errors.push_back(line); };
  }
  void Open(const std::string& name, bool readOnly = false) {
    ASSERT_TRUE(Floppy.OpenImage(name, readOnly));
    ASSERT_TRUE(Floppy.AllocTrackBuffer());
    Messages.clear();
    Errors.clear();
  }
  Bytes Run() {
    Core.Loop.Maincycle();
    Core.Link.AbortRequested = 0;
    return Core.Board.TakeWritten();
  }
  static Bytes Sector(const Bytes& image, size_t lba) { return BlockBytes(image.data() + lba * 512); }
  // Disk call from the board with BX 0x1234.
  static Bytes Disk(uint16_t ax, uint16_t cx = 0x0001, uint16_t dx = 0) {
    return RequestBytes(0x13, ax, 0x1234, cx, dx);
  }
  void ScriptWriteOfSector1(uint8_t fill) {
    Core.Board.Send(Disk(0x0301)).Ack().Send(BlockBytes(fill)).Ack();
  }

  floppytest::TTempDir Dir;
  std::string A, B;
  Bytes ImageA, ImageB;
  testsupport::TCore Core;
  Lines Messages;  // the board's screen
  Lines Errors;    // standard error
  floppy::TFloppy Floppy{Core.Screen, [this](const std::string& m) { Messages.push_back(m); }};
};

// A change asked for while a read waits for the board's acknowledgements is
// applied after that read; the next disk-change call says so once.
TEST_F(ImageChangeTest, ChangeInsideAReadWaitsForTheNextTurnAndIsReportedOnce) {
  Open(A);
  Core.Board.Send(Disk(0x0202, 0x0002)).Ack().Ack();
  Core.Board.Do([this] { Floppy.RequestImage(B); }).Ack();
  Core.Board.Send(Disk(0x1605)).Ack().Send(Disk(0x1605)).Ack();
  Core.Board.Send(Disk(0x0201, 0x0002)).Ack().Ack();
  EXPECT_EQ(Run(), Cat({kAckByte, ReplyBytes(0, 0x0002, 0x1234, 0x0002, 0, 0), Sector(ImageA, 1),
                        Sector(ImageA, 2),
                        kAckByte, ReplyBytes(0, 0x0605, 0x1234, 0x0001, 0, kCarry),
                        kAckByte, ReplyBytes(0, 0x0005, 0x1234, 0x0001, 0, 0),
                        kAckByte, ReplyBytes(0, 0x0001, 0x1234, 0x0002, 0, 0), Sector(ImageB, 1)}));
  // Identified with the usual lines.
  EXPECT_EQ(Messages, (Lines{"Bytes Per Sector :  512\r\n", "Total Sector 16  :  2880\r\n",
                             "Sectors Per Track:  18\r\n", "Number Heads     :  2\r\n"}));
  EXPECT_EQ(Floppy.Status().Name, B);
  // The old image is no longer held: another program may lock it now.
  EXPECT_EQ(FlockTool(A, false), 0);
  EXPECT_NE(FlockTool(B, false), 0);
}

// A change the board has not been told about yet still stands after a later
// change that failed.
TEST_F(ImageChangeTest, AFailedChangeKeepsAnEarlierOneForTheBoardToHear) {
  Open(A);
  EXPECT_TRUE(Floppy.ChangeImage(B, false));
  EXPECT_FALSE(Floppy.ChangeImage(Dir.File("none.img"), false));
  EXPECT_EQ(Floppy.Status().Name, B);
  Core.Board.Send(Disk(0x1600)).Ack();
  EXPECT_EQ(Run(), Cat({kAckByte, ReplyBytes(0, 0x0600, 0x1234, 0x0001, 0, kCarry)}));
}

struct TRefusedCase {
  const char* Name;
  std::string File;  // relative to the test's folder
  std::optional<Bytes> Content;  // none: no such file
  Lines Screen;      // after the name-dependent lines are made relative
  std::string Error;
  std::string Notice;  // the one line for the user (tool tip, status line, message box)
};

class ImageChangeRefused : public ImageChangeTest, public ::testing::WithParamInterface<TRefusedCase> {};

// An image that cannot be served leaves the old one in service, unchanged.
TEST_P(ImageChangeRefused, KeepsTheOldImage) {
  const auto& c = GetParam();
  const std::string path = Dir.File(c.File);
  if (c.Content) floppytest::WriteFile(path, *c.Content);
  Open(A);
  Lines notices;
  Floppy.OnChangeRefused = [&](const std::string& line) { notices.push_back(line); };
  Floppy.RequestImage(path);
  Core.Board.Send(Disk(0x0201, 0x0003)).Ack().Ack().Send(Disk(0x1600)).Ack();
  EXPECT_EQ(Run(), Cat({kAckByte, ReplyBytes(0, 0x0001, 0x1234, 0x0003, 0, 0), Sector(ImageA, 2),
                        kAckByte, ReplyBytes(0, 0x0000, 0x1234, 0x0001, 0, 0)}));
  const auto fill = [&](std::string l) {
    if (const size_t at = l.find("%s"); at != std::string::npos) l.replace(at, 2, path);
    if (const size_t at = l.find("%a"); at != std::string::npos) l.replace(at, 2, A);
    return l;
  };
  Lines screen;
  for (const auto& line : c.Screen) screen.push_back(fill(line));
  EXPECT_EQ(Messages, screen);
  EXPECT_NE(std::find(Errors.begin(), Errors.end(), fill(c.Error)), Errors.end());
  EXPECT_EQ(Floppy.Status().Name, A);
  EXPECT_EQ(notices, Lines{fill(c.Notice)});
  EXPECT_EQ(Floppy.Status().Message, fill(c.Notice));
  EXPECT_TRUE(Floppy.Status().Trouble);
}

INSTANTIATE_TEST_SUITE_P(
    Images, ImageChangeRefused,
    ::testing::Values(
        TRefusedCase{"Missing", "none.img", std::nullopt, {"Can not open image file %s\r\n", "Still serving %a\r\n"},
                     "Can not open image file %s: No such file or directory",
                     "Can not open image file %s: No such file or directory; still serving %a"},
        // Served at Connect, but no diskette to change to: only the one message.
        TRefusedCase{"TextFile", "text.txt", Bytes{'n', 'o', 't', ' ', 'a', ' ', 'd', 'i', 's', 'k', 'e', 't',
                                                   't', 'e', ' ', 'a', 't', ' ', '\n'},
                     {"%s: no FAT boot sector (19 bytes)\r\n", "Still serving %a\r\n"},
                     "%s: no FAT boot sector (19 bytes)", "%s: no FAT boot sector (19 bytes); still serving %a"},
        TRefusedCase{"EmptyFile", "empty.img", Bytes{}, {"%s: no FAT boot sector (0 bytes)\r\n", "Still serving %a\r\n"},
                     "%s: no FAT boot sector (0 bytes)", "%s: no FAT boot sector (0 bytes); still serving %a"},
        // A whole diskette's size with a FAT mark but no geometry cannot address a sector either.
        TRefusedCase{"NoGeometry", "zero.img", Image144(floppytest::BootSector("FAT12", 512, 2880, 0, 0)),
                     {"%s: no FAT boot sector (1474560 bytes)\r\n", "Still serving %a\r\n"},
                     "%s: no FAT boot sector (1474560 bytes)", "%s: no FAT boot sector (1474560 bytes); still serving %a"},
        TRefusedCase{"Sectors1024", "big.img", Image144(floppytest::BootSector("FAT12", 1024)),
                     {"Bytes Per Sector :  1024\r\n", "Total Sector 16  :  2880\r\n",
                      "Sectors Per Track:  18\r\n", "Number Heads     :  2\r\n",
                      "Can't support sector size not equal 512\r\n", "Still serving %a\r\n"},
                     "Can't support sector size not equal 512",
                     "Can't support sector size not equal 512; still serving %a"}),
    testsupport::TNameField());

// A second holder of the image: refused while the first one serves it, in
// every combination but two readers; the flock tool sees the same lock.
struct TLockCase {
  const char* Name;
  bool FirstReadOnly;
  bool SecondReadOnly;
  bool SecondOpens;
};

class ImageLock : public ImageChangeTest, public ::testing::WithParamInterface<TLockCase> {};

TEST_P(ImageLock, SecondHolder) {
  const auto& c = GetParam();
  Open(A, c.FirstReadOnly);
  display::TScreen screen2;
  Lines second;
  floppy::TFloppy other{screen2, [&](const std::string& m) { second.push_back(m); }};
  EXPECT_EQ(other.OpenImage(A, c.SecondReadOnly), c.SecondOpens);
  if (!c.SecondOpens) {
    EXPECT_EQ(second, Lines{"Can not open image file " + A + "\r\n"});
    EXPECT_EQ(other.Status().Message,
              "Can not open image file " + A + ": in use: another program holds a lock on it");
  }
  other.CloseImage();
  EXPECT_NE(FlockTool(A, false), 0);
  EXPECT_EQ(FlockTool(A, true), c.FirstReadOnly ? 0 : 1);
  Floppy.CloseImage();
  EXPECT_EQ(FlockTool(A, false), 0);
}

INSTANTIATE_TEST_SUITE_P(All, ImageLock,
                         ::testing::Values(TLockCase{"WriterWriter", false, false, false},
                                           TLockCase{"WriterReader", false, true, false},
                                           TLockCase{"ReaderWriter", true, false, false},
                                           TLockCase{"ReaderReader", true, true, true}),
                         testsupport::TNameField());

TEST_F(ImageChangeTest, WriteProtectionTogglesBetweenRequests) {
  Open(A);
  Floppy.RequestWriteProtect(true);
  ScriptWriteOfSector1(0x66);
  Core.Board.Do([this] { Floppy.RequestWriteProtect(false); });
  ScriptWriteOfSector1(0x77);
  EXPECT_EQ(Run(), Cat({kAckByte, ReplyBytes(10, 0x0301, 0x1234, 0x0001, 0, 0), kAckByte,
                        ReplyBytes(10, 0x0301, 0x1234, 0x0001, 0, kCarry),  // AH 3, AL kept
                        kAckByte, ReplyBytes(10, 0x0301, 0x1234, 0x0001, 0, kCarry), kAckByte,
                        ReplyBytes(10, 0x0001, 0x1234, 0x0001, 0, 0)}));
  const Bytes file = floppytest::ReadFile(A);
  EXPECT_EQ(file[0], 0x77);
  EXPECT_EQ(Errors, (Lines{A + " is write-protected", A + " is writable"}));
}

// An image opened read-only (--read-only) is opened again for update when
// protection is taken off, unless another program reads it meanwhile.
TEST_F(ImageChangeTest, ProtectionOffReopensAReadOnlyImageUnlessSomeoneElseHoldsIt) {
  Open(A, true);
  EXPECT_EQ(FlockTool(A, true), 0);  // readers may share it
  const int reader = ::open(A.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  ASSERT_EQ(::flock(reader, LOCK_SH | LOCK_NB), 0);
  Floppy.RequestWriteProtect(false);
  Floppy.ApplyPending();
  EXPECT_TRUE(Floppy.ReadOnly);
  EXPECT_TRUE(Floppy.WriteProtect);
  EXPECT_EQ(Errors, Lines{A + " stays write-protected: in use: another program holds a lock on it"});
  ::close(reader);

  Floppy.RequestWriteProtect(false);
  ScriptWriteOfSector1(0x5A);
  Run();
  EXPECT_FALSE(Floppy.ReadOnly);
  EXPECT_EQ(floppytest::ReadFile(A)[0], 0x5A);
  EXPECT_NE(FlockTool(A, true), 0);  // now held exclusively
}

// An image of another size or geometry than the 1.44 MB drive the board is
// told about is served with a warning, on the screen and for the user.
struct TGeometryCase {
  const char* Name;
  Bytes Boot;
  int64_t Size;
  std::string Warning;  // empty: none
  std::string Status;
};

class ImageGeometry : public ImageChangeTest, public ::testing::WithParamInterface<TGeometryCase> {};

TEST_P(ImageGeometry, Warning) {
  const auto& c = GetParam();
  const std::string path = Dir.File("g.img");
  floppytest::WriteFile(path, c.Boot);
  ASSERT_EQ(::truncate(path.c_str(), c.Size), 0);
  ASSERT_TRUE(Floppy.OpenImage(path, false));
  const bool warned = !Messages.empty() && Messages.back().rfind("Warning", 0) == 0;
  EXPECT_EQ(warned ? Messages.back() : "", c.Warning);
  EXPECT_EQ(Floppy.Status().Message, c.Status);
  if (!c.Warning.empty()) {
    EXPECT_EQ(Errors.back() + "\r\n", c.Warning);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Images, ImageGeometry,
    ::testing::Values(
        TGeometryCase{"Diskette144", floppytest::BootSector("FAT12"), 1474560, "",
                      "FAT image, 512-byte sectors, 18 sectors per track, 2 heads"},
        TGeometryCase{"Fat16Of16MB", floppytest::BootSector("FAT16", 512, 32768, 63, 16), 16 << 20,
                      "Warning: not a 1.44 MB diskette (bytes 16777216, sectors per track 63, heads 16)\r\n",
                      "Warning: not a 1.44 MB diskette (bytes 16777216, sectors per track 63, heads 16)"},
        TGeometryCase{"Diskette720", floppytest::BootSector("FAT12", 512, 1440, 9, 2), 737280,
                      "Warning: not a 1.44 MB diskette (bytes 737280, sectors per track 9, heads 2)\r\n",
                      "Warning: not a 1.44 MB diskette (bytes 737280, sectors per track 9, heads 2)"},
        TGeometryCase{"UnidentifiedOfTheRightSize", floppytest::BootSector(""), 1474560, "",
                      "Can't Identify image"}),
    testsupport::TNameField());

}  // namespace
