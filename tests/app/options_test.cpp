#include <gtest/gtest.h>

#include "tests/support/param_names.h"

#include "app/options.h"

namespace {

app::TParseResult Parse(std::vector<std::string> args) { return app::ParseOptions(args); }

TEST(Options, DefaultsAreTheFirstTwoSerialPorts) {
  const auto r = Parse({});
  EXPECT_EQ(r.ExitCode, -1);
  EXPECT_EQ(r.Options.Com1, "/dev/ttyS0");
  EXPECT_EQ(r.Options.Com2, "/dev/ttyS1");
  EXPECT_TRUE(r.Options.Image.empty());
  EXPECT_FALSE(r.Options.Connect);
}

TEST(Options, DevicesImageAndConnect) {
  const auto r = Parse({"--com1", "/dev/ttyUSB0", "--com2", "/dev/pts/7", "--image", "a.img",
                        "--connect", "--port2"});
  EXPECT_EQ(r.ExitCode, -1);
  EXPECT_EQ(r.Options.Com1, "/dev/ttyUSB0");
  EXPECT_EQ(r.Options.Com2, "/dev/pts/7");
  EXPECT_EQ(r.Options.Image, "a.img");
  EXPECT_TRUE(r.Options.Connect);
  EXPECT_TRUE(r.Options.UseCom2);
}

TEST(Options, HelpPrintsUsageAndExitsZero) {
  const auto r = Parse({"--com1", "x", "--help"});
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_NE(r.Message.find("--com1 DEVICE"), std::string::npos);
}

struct TBadCase {
  std::vector<std::string> Args;
  const char* Expect;
};

class BadOptions : public ::testing::TestWithParam<TBadCase> {};

TEST_P(BadOptions, PrintUsageAndExitTwo) {
  const auto r = Parse(GetParam().Args);
  EXPECT_EQ(r.ExitCode, 2);
  EXPECT_NE(r.Message.find(GetParam().Expect), std::string::npos) << r.Message;
  EXPECT_NE(r.Message.find("Usage: consolew"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadOptions,
    ::testing::Values(TBadCase{{"--frobnicate"}, "unknown option '--frobnicate'"},
                      TBadCase{{"--com1"}, "--com1 needs a device path"},
                      TBadCase{{"--com2", ""}, "--com2 needs a device path"},
                      TBadCase{{"--image"}, "--image needs a file name"},
                      TBadCase{{"-platform"}, "-platform needs a value"},
                      TBadCase{{"image.img"}, "unknown option 'image.img'"}), testsupport::TIndexName());

TEST(Options, ToolkitOptionsArePassedOnInOrder) {
  const auto r = Parse({"-platform", "offscreen", "--connect", "-reverse"});
  EXPECT_EQ(r.ExitCode, -1);
  EXPECT_EQ(r.Options.ToolkitArgs, (std::vector<std::string>{"-platform", "offscreen", "-reverse"}));
}

}  // namespace
