// Images made and checked by the real FAT tools travel whole through the disk
// services: every track read out, and every track written onto a blank image.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <map>

#include "floppy/disk_service.h"
#include "floppy/floppy_image.h"
#include "tests/floppy/floppy_fixture.h"
#include "tests/support/core_fixture.h"

namespace {

using floppytest::Bytes;
using testsupport::BlockBytes;
using testsupport::RequestBytes;

constexpr int kCylinders = 80;
constexpr int kHeads = 2;
constexpr int kSectors = 18;
constexpr size_t kTrackBytes = kSectors * 512;

// The tool's full path, or empty when it is not installed.
std::string FindTool(const std::string& name) {
  std::string dirs = getenv("PATH") != nullptr ? getenv("PATH") : "";
  dirs += ":/usr/sbin:/sbin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    const size_t end = std::min(dirs.find(':', start), dirs.size());
    const std::string candidate = dirs.substr(start, end - start) + "/" + name;
    if (end > start && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return {};
}

int Shell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str());
}

class DiskRoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Dir.Path.empty());
    for (const char* tool : {"mkfs.fat", "mcopy", "fsck.fat"}) {
      Tools[tool] = FindTool(tool);
      if (Tools[tool].empty()) GTEST_SKIP() << tool << " is not installed (dosfstools/mtools)";
    }
  }
  // A blank FAT12 diskette image with three files on it.
  void MakeSourceImage(const std::string& image) {
    ASSERT_EQ(Shell(Tools["mkfs.fat"] + " -C " + image + " 1440"), 0);
    const size_t sizes[] = {700, 40000, 300000};
    for (size_t f = 0; f < 3; ++f) {
      Bytes content(sizes[f]);
      for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<uint8_t>(i * (f + 3) + f);
      const std::string name = Dir.File("file" + std::to_string(f) + ".bin");
      floppytest::WriteFile(name, content);
      Files.push_back(name);
      ASSERT_EQ(Shell("MTOOLS_SKIP_CHECK=1 " + Tools["mcopy"] + " -i " + image + " " + name +
                      " ::FILE" + std::to_string(f) + ".BIN"),
                0);
    }
  }
  void Serve(floppy::TFloppy& floppy) {
    Core.Loop.SetHandler(0x13, [this, &floppy] { floppy::DiskService(Core.Link, floppy); });
  }

  floppytest::TTempDir Dir;
  std::map<std::string, std::string> Tools;
  std::vector<std::string> Files;
  testsupport::TCore Core;
  std::vector<std::string> Messages;
};

TEST_F(DiskRoundTrip, ToolMadeImageIsReadWholeAndCopiedTrackByTrack) {
  const std::string source = Dir.File("source.img");
  const std::string copy = Dir.File("copy.img");
  MakeSourceImage(source);
  const Bytes original = floppytest::ReadFile(source);
  ASSERT_EQ(original.size(), floppytest::kImage144);
  floppytest::WriteFile(copy, Bytes(original.size(), 0));

  auto sink = [this](const std::string& m) { Messages.push_back(m); };
  floppy::TFloppy in(Core.Screen, sink);
  ASSERT_TRUE(in.OpenImage(source, true));
  ASSERT_EQ(Messages.size(), 4u);
  EXPECT_EQ(Messages[2], "Sectors Per Track:  18\r\n");
  ASSERT_TRUE(in.AllocTrackBuffer());
  Serve(in);

  // Every track read through the service.
  for (int c = 0; c < kCylinders; ++c) {
    for (int h = 0; h < kHeads; ++h) {
      Core.Board.Send(RequestBytes(0x13, 0x0212, 0, static_cast<uint16_t>(c << 8 | 1),
                                   static_cast<uint16_t>(h << 8)));
      for (int i = 0; i <= kSectors; ++i) Core.Board.Ack();
    }
  }
  Core.Loop.Maincycle();
  const Bytes wire = Core.Board.TakeWritten();
  constexpr size_t kPerTrack = 1 + wire::kReplySize + kSectors * wire::kBlockSize;
  ASSERT_EQ(wire.size(), kCylinders * kHeads * kPerTrack);
  Bytes readBack;
  for (size_t t = 0; t < kCylinders * kHeads; ++t) {
    const uint8_t* track = wire.data() + t * kPerTrack;
    ASSERT_EQ(track[1 + 5], 0x12);  // AL: 18 sectors
    ASSERT_EQ(track[1 + 6], 0x00);  // AH: success
    for (size_t s = 0; s < kSectors; ++s) {
      const uint8_t* data = track + 1 + wire::kReplySize + s * wire::kBlockSize + 4;
      readBack.insert(readBack.end(), data, data + 512);
    }
  }
  ASSERT_EQ(readBack, original);

  // Every track written onto the blank image (not identified: default geometry).
  Core.Link.AbortRequested = 0;
  Messages.clear();
  floppy::TFloppy out(Core.Screen, sink);
  ASSERT_TRUE(out.OpenImage(copy, false));
  EXPECT_EQ(Messages, (std::vector<std::string>{"Can't Identify image\r\n"}));
  ASSERT_TRUE(out.AllocTrackBuffer());
  Serve(out);
  for (int c = 0; c < kCylinders; ++c) {
    for (int h = 0; h < kHeads; ++h) {
      Core.Board
          .Send(RequestBytes(0x13, 0x0312, 0, static_cast<uint16_t>(c << 8 | 1),
                             static_cast<uint16_t>(h << 8)))
          .Ack();
      const size_t track = static_cast<size_t>(c * kHeads + h) * kTrackBytes;
      for (int s = 0; s < kSectors; ++s)
        Core.Board.Send(BlockBytes(original.data() + track + s * 512));
      Core.Board.Ack();
    }
  }
  Core.Loop.Maincycle();
  out.CloseImage();
  ASSERT_EQ(floppytest::ReadFile(copy), original);
  EXPECT_EQ(Shell(Tools["fsck.fat"] + " -n " + copy), 0);
  // The files come back out of the copy as they went in.
  for (size_t f = 0; f < Files.size(); ++f) {
    const std::string back = Dir.File("back" + std::to_string(f));
    ASSERT_EQ(Shell("MTOOLS_SKIP_CHECK=1 " + Tools["mcopy"] + " -i " + copy + " ::FILE" +
                    std::to_string(f) + ".BIN " + back),
              0);
    EXPECT_EQ(floppytest::ReadFile(back), floppytest::ReadFile(Files[f]));
  }
}

}  // namespace
