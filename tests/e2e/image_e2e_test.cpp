// Whole diskettes through the real programs: board-sim starts consolew on a
// pseudo-terminal and reads or writes every track of the image the console
// serves, with and without faults on the line.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cmath>

#include "tests/e2e/e2e_support.h"

namespace {

using e2e::TBytes;


class ImageE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const auto missing = e2e::MissingFatTools()) GTEST_SKIP() << *missing;
  }

  // Runs board-sim (unpaced) with the console as its child; the JSON line is
  // the last line of its output.
  std::string RunBoard(std::vector<std::string> args) {
    Last = e2e::RunBoardSim(args, {"-platform", "offscreen"}, {"QT_QPA_PLATFORM=offscreen"});
    EXPECT_FALSE(Last.TimedOut) << "board-sim ran out of time\n" << Last.Err;
    return e2e::LastJsonLine(Last.Out);
  }

  e2e::TTempDir Dir;
  e2e::TRunResult Last;
};

const std::map<std::string, TBytes>& SampleFiles() {
  static const std::map<std::string, TBytes> files = [] {
    const std::string readme = "Nerova demo diskette.\r\nServed by the remote console.\r\n";
    std::map<std::string, TBytes> f;
    f["README.TXT"] = TBytes(readme.begin(), readme.end());
    f["DATA.BIN"] = e2e::RandomBytes(400000, 21);
    f["SMALL.BIN"] = e2e::RandomBytes(1000, 22);
    return f;
  }();
  return files;
}

TEST_F(ImageE2E, ReadsTheWholeImageByteForByte) {
  const auto image = Dir / "served.img";
  ASSERT_EQ(e2e::MakeFatImage(image, 1440, "SERVED", SampleFiles()), "");
  const TBytes content = e2e::ReadFile(image);
  ASSERT_EQ(content.size(), 1474560u);
  const std::string json =
      RunBoard({"--script", "read-image", (Dir / "out.img").string(), "--image", image.string()});
  ASSERT_EQ(Last.Status, 0) << json << Last.Err;
  EXPECT_TRUE(e2e::JsonTrue(json, "geometry_from_boot_sector")) << json;
  EXPECT_EQ(e2e::JsonNumber(json, "bytes"), 1474560.0);
  EXPECT_EQ(e2e::JsonNumber(json, "tracks"), 160.0);
  EXPECT_TRUE(e2e::ReadFile(Dir / "out.img") == content);
  EXPECT_TRUE(e2e::ReadFile(image) == content);
}

TEST_F(ImageE2E, WritesEveryTrackAndTheDisketteStaysSound) {
  const auto served = Dir / "served.img";
  const auto source = Dir / "source.img";
  ASSERT_EQ(e2e::MakeFatImage(served, 1440, "BLANK", {}), "");
  ASSERT_EQ(e2e::MakeFatImage(source, 1440, "WRITTEN", SampleFiles()), "");
  const std::string json =
      RunBoard({"--script", "write-image", source.string(), "--image", served.string()});
  ASSERT_EQ(Last.Status, 0) << json << Last.Err;
  EXPECT_EQ(e2e::JsonNumber(json, "tracks"), 160.0);
  EXPECT_TRUE(e2e::ReadFile(served) == e2e::ReadFile(source));

  const auto fsck = e2e::Run({*e2e::FindTool("fsck.fat"), "-n", served.string()}, 30);
  EXPECT_EQ(fsck.Status, 0) << fsck.Out << fsck.Err;
  for (const auto& [name, bytes] : SampleFiles()) {
    const auto extracted = e2e::ExtractFile(served, name, Dir.path());
    ASSERT_TRUE(extracted.has_value()) << name;
    EXPECT_TRUE(*extracted == bytes) << name;
  }
}

// A diskette whose every sector but the boot sector is random: two of them
// (same boot sector, other seeds) differ in every other sector.
TBytes RandomDiskette(const TBytes& bootSector, uint32_t seed, size_t bytes) {
  TBytes d = e2e::RandomBytes(bytes, seed);
  std::copy(bootSector.begin(), bootSector.begin() + 512, d.begin());
  return d;
}

struct TFaultCase {
  const char* Name;
  std::vector<std::string> Flags;
  const char* Counter;  // JSON counter showing that the fault really happened
};

void PrintTo(const TFaultCase& c, std::ostream* os) { *os << c.Name; }

class FaultE2E : public ImageE2E, public ::testing::WithParamInterface<TFaultCase> {
 protected:
  void SetUp() override {
    ImageE2E::SetUp();
    if (IsSkipped()) return;
    const auto blank = Dir / "blank.img";
    ASSERT_EQ(e2e::MakeFatImage(blank, 720, "FAULTS", {}), "");
    const TBytes boot = e2e::ReadFile(blank);
    Before = RandomDiskette(boot, 31, boot.size());
    Written = RandomDiskette(boot, 32, boot.size());
  }
  std::vector<std::string> With(std::vector<std::string> args) {
    args.insert(args.end(), GetParam().Flags.begin(), GetParam().Flags.end());
    return args;
  }
  TBytes Before, Written;
};

// Every sector the console wrote is one the board sent intact: after the run
// each sector holds either its old or its new content, and a run that reports
// success left the whole new image.
TEST_P(FaultE2E, WriteNeverCorruptsTheImage) {
  const auto served = Dir / "served.img";
  const auto source = Dir / "source.img";
  e2e::WriteFile(served, Before);
  e2e::WriteFile(source, Written);
  const std::string json = RunBoard(
      With({"--script", "write-image", source.string(), "--image", served.string()}));
  const TBytes after = e2e::ReadFile(served);
  EXPECT_EQ(e2e::CorruptSectors(Before, Written, after), std::vector<size_t>{}) << json;
  EXPECT_GT(e2e::JsonNumber(json, GetParam().Counter), 0.0) << json;
  // The console recovered from every fault: the script got through all tracks.
  ASSERT_EQ(Last.Status, 0) << json << Last.Err;
  EXPECT_TRUE(after == Written);
}

TEST_P(FaultE2E, ReadDeliversTheImageIntact) {
  const auto served = Dir / "served.img";
  e2e::WriteFile(served, Written);
  const std::string json = RunBoard(
      With({"--script", "read-image", (Dir / "out.img").string(), "--image", served.string()}));
  EXPECT_GT(e2e::JsonNumber(json, GetParam().Counter), 0.0) << json;
  ASSERT_EQ(Last.Status, 0) << json << Last.Err;
  EXPECT_TRUE(e2e::ReadFile(Dir / "out.img") == Written);
  EXPECT_TRUE(e2e::ReadFile(served) == Written);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultE2E,
    ::testing::Values(
        TFaultCase{"OneBitErrors", {"--bit-errors", "3e-5", "--one-bit-per-packet", "--seed", "3"},
                   "bits_flipped"},
        TFaultCase{"Naks", {"--nak-every", "7", "--seed", "4"}, "naks_injected"},
        TFaultCase{"Drops", {"--drop", "4e-6", "--seed", "5"}, "bytes_dropped"},
        TFaultCase{"Reboot", {"--reboot-in-transfer", "30", "--seed", "6"}, "reboots"},
        TFaultCase{"Stall", {"--stall-every", "60", "--seed", "7"}, "stalls"},
        TFaultCase{"Everything",
                   {"--bit-errors", "2e-5", "--one-bit-per-packet", "--nak-every", "11", "--drop",
                    "2e-6", "--reboot-in-transfer", "40", "--stall-every", "90", "--seed", "8"},
                   "bits_flipped"}),
    [](const auto& info) { return std::string(info.param.Name); });

// Without a window nobody would see that no diskette is served: an --image
// that cannot be opened stops the start with its reason, as a port does.
TEST(ImageOption, AnImageThatCannotBeOpenedStopsTheStartWithItsReason) {
  e2e::TTempDir dir;
  const std::string held = (dir / "held.img").string();
  e2e::WriteFile(held, TBytes(512, 0));
  const int holder = ::open(held.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);  // another program serves it
  const struct {
    std::string Image;
    std::string Reason;
  } cases[] = {
      {(dir / "none.img").string(), "No such file or directory"},
      {held, "in use: another program holds a lock on it"},
      {dir.path().string(), "Is a directory"},
  };
  for (const auto& c : cases) {
    const auto r = e2e::Run({e2e::ConsolePath(), "--headless", "--com1", "/dev/null", "--image", c.Image}, 30);
    ASSERT_FALSE(r.TimedOut) << c.Image;
    EXPECT_EQ(r.Status, 1) << c.Image;
    EXPECT_EQ(r.Err, "consolew: --image " + c.Image + ": " + c.Reason + "\n");
  }
  ::close(holder);
}

}  // namespace
