#include "floppy/image_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include "tests/support/param_names.h"
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tests/floppy/floppy_fixture.h"

namespace {

using floppy::TImageFile;
using floppy::TOpenOutcome;
using floppytest::Bytes;
using floppytest::TTempDir;

class ImageFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Dir.Path.empty());
    Name = Dir.File("a.img");
    Bytes data(2048);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 3);
    floppytest::WriteFile(Name, data);
  }
  TTempDir Dir;
  std::string Name;
  TImageFile File;
};

TEST_F(ImageFileTest, ReadsAndWritesInPlace) {
  ASSERT_EQ(File.Open(Name, false), TOpenOutcome::ooOpened);
  EXPECT_FALSE(File.ReadOnly());
  const uint8_t data[3] = {0xDE, 0xAD, 0x01};
  ASSERT_TRUE(File.WriteAt(1000, data, 3));
  uint8_t back[5] = {};
  ASSERT_TRUE(File.ReadAt(999, back, 5));
  EXPECT_EQ(back[0], static_cast<uint8_t>(999 * 3));
  EXPECT_EQ(back[1], 0xDE);
  EXPECT_EQ(back[3], 0x01);
  EXPECT_EQ(back[4], static_cast<uint8_t>(1003 * 3));
  EXPECT_EQ(File.Size(), 2048);
  // Reaching past the end is a failure, not a short success.
  uint8_t tail[16];
  EXPECT_FALSE(File.ReadAt(2040, tail, 16));
}

TEST_F(ImageFileTest, ReadOnlyOpenRefusesWrites) {
  ASSERT_EQ(File.Open(Name, true), TOpenOutcome::ooOpened);
  EXPECT_TRUE(File.ReadOnly());
  const uint8_t one = 1;
  EXPECT_FALSE(File.WriteAt(0, &one, 1));
  EXPECT_EQ(floppytest::ReadFile(Name)[0], 0);
}

TEST_F(ImageFileTest, RefusesMissingDirectoryAndFifo) {
  const std::string fifo = Dir.File("pipe.img");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& name : {Dir.File("missing.img"), Dir.Path, fifo}) {
    for (bool readOnly : {false, true}) {
      EXPECT_EQ(File.Open(name, readOnly), TOpenOutcome::ooFailed) << name << " " << readOnly;
      EXPECT_FALSE(File.IsOpen());
    }
  }
}

TEST(ImageFileRetry, OnlyPermissionRefusalsFallBack) {
  EXPECT_TRUE(floppy::ShouldRetryReadOnly(EACCES));
  EXPECT_TRUE(floppy::ShouldRetryReadOnly(EROFS));
  EXPECT_TRUE(floppy::ShouldRetryReadOnly(EPERM));
  EXPECT_FALSE(floppy::ShouldRetryReadOnly(ENOENT));
  EXPECT_FALSE(floppy::ShouldRetryReadOnly(EISDIR));
  EXPECT_FALSE(floppy::ShouldRetryReadOnly(0));
}

// An open(2) that refuses update access with `error`, as for a user without
// write permission or on a read-only mount.
struct TRefusingOpen {
  int Error;
  std::vector<int> Modes;
  int operator()(const char* path, int flags) {
    Modes.push_back(flags & O_ACCMODE);
    if ((flags & O_ACCMODE) != O_RDONLY) {
      errno = Error;
      return -1;
    }
    return ::open(path, flags);
  }
};

class ImageFileFallback : public ImageFileTest, public ::testing::WithParamInterface<int> {};

TEST_P(ImageFileFallback, RetriesReadOnlyOnPermissionErrors) {
  TRefusingOpen refusing{GetParam(), {}};
  const auto outcome = File.Open(Name, false, std::ref(refusing));
  if (floppy::ShouldRetryReadOnly(GetParam())) {
    EXPECT_EQ(outcome, TOpenOutcome::ooOpenedReadOnly);
    EXPECT_TRUE(File.ReadOnly());
    EXPECT_EQ(refusing.Modes, (std::vector<int>{O_RDWR, O_RDONLY}));
  } else {
    EXPECT_EQ(outcome, TOpenOutcome::ooFailed);
    EXPECT_EQ(File.LastError, GetParam());
    EXPECT_EQ(refusing.Modes, (std::vector<int>{O_RDWR}));
  }
}

INSTANTIATE_TEST_SUITE_P(Errors, ImageFileFallback,
                         ::testing::Values(EACCES, EROFS, EPERM, ENOENT, ENOSPC, ETXTBSY), testsupport::TIndexName());

}  // namespace
