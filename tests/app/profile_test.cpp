// Profiles: the config file's section under the command line, and every
// mistake in the file named by file, line and key with status 2.
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/profile.h"

namespace {

const char* const kHomeConf = "/home/u/.config/consolew/consolew.conf";
const char* const kEtcConf = "/etc/consolew/consolew.conf";

const char* const kGood =
    "# two boards\n"
    "[bench1]\n"
    "com1 = /dev/ttyUSB0\n"
    "image = /srv/boot.img\n"
    "read-only = yes\n"
    "headless = true\n"
    "\n"
    "[bench2]\n"
    "; the second\n"
    "com1 = tcp://lab:4001\n"
    "terminal = on\n";

app::TConfigPlaces Places(std::map<std::string, std::string> files) {
  app::TConfigPlaces places;
  places.Defaults = {kHomeConf, kEtcConf};
  places.Read = [files = std::move(files)](const std::string& path, std::string& text) {
    if (path == "/unreadable") return EACCES;
    const auto it = files.find(path);
    if (it == files.end()) return ENOENT;
    text = it->second;
    return 0;
  };
  return places;
}

struct TCase {
  const char* Name;
  std::map<std::string, std::string> Files;
  std::vector<std::string> Args;
  int Exit;               // -1: the console starts
  std::string Com1;       // with Exit -1
  std::string Image;      // with Exit -1
  bool ReadOnly;          // with Exit -1
  std::string Message;    // a part of the message, with Exit >= 0
};

TEST(ProfileTest, FileUnderTheCommandLineAndEveryMistakeNamed) {
  const std::vector<TCase> cases = {
      {"first argument", {{kEtcConf, kGood}}, {"bench1"}, -1, "/dev/ttyUSB0", "/srv/boot.img", true, ""},
      {"--profile", {{kEtcConf, kGood}}, {"--profile", "bench2"}, -1, "tcp://lab:4001", "", false, ""},
      {"home before /etc",
       {{kHomeConf, "[bench1]\ncom1 = /dev/ttyACM0\n"}, {kEtcConf, kGood}},
       {"bench1"}, -1, "/dev/ttyACM0", "", false, ""},
      {"command line wins", {{kEtcConf, kGood}}, {"bench1", "--image", "/tmp/other.img"}, -1, "/dev/ttyUSB0",
       "/tmp/other.img", true, ""},
      {"--config", {{"/x.conf", kGood}}, {"--config=/x.conf", "--profile=bench1"}, -1, "/dev/ttyUSB0",
       "/srv/boot.img", true, ""},
      {"no profile, no file needed", {}, {"--com1", "/dev/ttyS2"}, -1, "/dev/ttyS2", "", false, ""},
      {"unknown key", {{kEtcConf, "[b]\ncom1 = /dev/ttyS0\ncolour = red\n"}}, {"b"}, 2, "", "", false,
       "/etc/consolew/consolew.conf:3: key 'colour': unknown key"},
      {"bad flag value", {{kEtcConf, "[b]\nread-only = maybe\n"}}, {"b"}, 2, "", "", false,
       "/etc/consolew/consolew.conf:2: key 'read-only': 'maybe' is not true or false"},
      {"value missing", {{kEtcConf, "[b]\nimage =\n"}}, {"b"}, 2, "", "", false,
       "/etc/consolew/consolew.conf:2: key 'image': needs a value"},
      {"command-line only key", {{kEtcConf, "[b]\nattach = /run/x.sock\n"}}, {"b"}, 2, "", "", false,
       ":2: key 'attach': not a setting"},
      {"bad value for the console", {{kEtcConf, "[b]\ncontrol-mode = 9z\n"}}, {"b"}, 2, "", "", false,
       "/etc/consolew/consolew.conf:2: key 'control-mode'"},
      {"bad address", {{kEtcConf, "[b]\nconnect = true\nserve = 80a\n"}}, {"b"}, 2, "", "", false,
       "/etc/consolew/consolew.conf:3: key 'serve': --serve needs [HOST:]PORT"},
      {"missing section", {{kEtcConf, kGood}}, {"bench3"}, 2, "", "", false,
       "no profile [bench3] (profiles: bench1, bench2)"},
      {"no file at all", {}, {"bench1"}, 2, "", "", false, "no config file (looked for " + std::string(kHomeConf)},
      {"unreadable", {}, {"--config", "/unreadable", "bench1"}, 2, "", "", false, "/unreadable: Permission denied"},
      {"key before a section", {{kEtcConf, "com1 = /dev/ttyS0\n[b]\n"}}, {"b"}, 2, "", "", false,
       "consolew.conf:1: key 'com1' before any [section]"},
      {"key twice", {{kEtcConf, "[b]\ncom1 = a\ncom1 = b\n"}}, {"b"}, 2, "", "", false,
       ":3: key 'com1' given twice (first on line 2)"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const app::TParseResult r = app::ParseCommandLine(c.Args, Places(c.Files));
    ASSERT_EQ(r.ExitCode, c.Exit) << r.Message;
    if (c.Exit >= 0) {
      EXPECT_NE(r.Message.find(c.Message), std::string::npos) << r.Message;
      continue;
    }
    EXPECT_EQ(r.Options.Com1, c.Com1);
    EXPECT_EQ(r.Options.Image, c.Image);
    EXPECT_EQ(r.Options.ReadOnly, c.ReadOnly);
  }
}

TEST(ProfileTest, PrintConfigSaysWhereEachSettingCameFrom) {
  const app::TParseResult r =
      app::ParseCommandLine({"bench1", "--terminal", "--image=/tmp/o.img", "--print-config"}, Places({{kEtcConf, kGood}}));
  ASSERT_EQ(r.ExitCode, 0);
  EXPECT_NE(r.Message.find("com1 = /dev/ttyUSB0    # /etc/consolew/consolew.conf:3"), std::string::npos) << r.Message;
  EXPECT_NE(r.Message.find("image = /tmp/o.img    # command line"), std::string::npos);
  EXPECT_NE(r.Message.find("terminal = true    # command line"), std::string::npos);
  // --terminal on the command line replaces the file's headless.
  EXPECT_EQ(r.Message.find("headless"), std::string::npos);
  EXPECT_EQ(r.Message.find("/srv/boot.img"), std::string::npos);
}

// The file system's reader: what a start with --config meets.
TEST(ProfileTest, TheFileSystemReaderIsBounded) {
  const std::string dir = ::testing::TempDir();
  const std::string small = dir + "consolew-profile-test.conf";
  std::ofstream(small) << "[b]\ncom1 = /dev/ttyS3\n";
  const std::string big = dir + "consolew-profile-test-big.conf";
  std::ofstream(big) << "[b]\n" << std::string(app::kMaxConfigBytes, '#') << "\n";
  struct TRead {
    std::string Path;
    int Errno;
  };
  const std::vector<TRead> reads = {{small, 0}, {big, EFBIG}, {"/dev/zero", EFBIG}, {dir, EISDIR},
                                    {dir + "consolew-no-such.conf", ENOENT}};
  const app::TConfigPlaces places = app::DefaultConfigPlaces();
  for (const TRead& r : reads) {
    SCOPED_TRACE(r.Path);
    std::string text;
    EXPECT_EQ(places.Read(r.Path, text), r.Errno);
    if (r.Errno == 0) {
      EXPECT_EQ(text, "[b]\ncom1 = /dev/ttyS3\n");
    }
  }
  const app::TParseResult zero = app::ParseCommandLine({"b", "--config", "/dev/zero"}, places);
  EXPECT_EQ(zero.ExitCode, 2);
  EXPECT_EQ(zero.Message, "consolew: /dev/zero: File too large\n");
  const app::TParseResult good = app::ParseCommandLine({"b", "--config", small}, places);
  EXPECT_EQ(good.ExitCode, -1) << good.Message;
  EXPECT_EQ(good.Options.Com1, "/dev/ttyS3");
  std::remove(small.c_str());
  std::remove(big.c_str());
}

}  // namespace
