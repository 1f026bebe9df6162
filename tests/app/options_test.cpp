#include <gtest/gtest.h>

#include <functional>

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
                      TBadCase{{"image.img"}, "unknown option 'image.img'"},
                      TBadCase{{"--image="}, "--image needs a file name"},
                      TBadCase{{"--pty"}, "--pty needs a link name"},
                      TBadCase{{"--log="}, "--log needs a file name"},
                      TBadCase{{"--connect=yes"}, "--connect takes no value"},
                      TBadCase{{"--com3=/dev/ttyS2"}, "unknown option '--com3=/dev/ttyS2'"},
                      TBadCase{{"--terminal", "--headless"},
                               "--terminal and --headless exclude each other"},
                      TBadCase{{"--trace"}, "--trace needs a file name"},
                      TBadCase{{"--trace-data"}, "--trace-data needs --trace FILE"},
                      TBadCase{{"--trace", "t", "--trace-data=1"}, "--trace-data takes no value"},
                      TBadCase{{"--list=all"}, "--list takes no value"},
                      TBadCase{{"--control"}, "--control needs a socket path"},
                      TBadCase{{"--control", "s", "--control-mode", "0666"},
                               "--control-mode: the owner reads and writes, the group may, others may not (0600 to 0660)"},
                      TBadCase{{"--control", "s", "--control-mode=0400"},
                               "--control-mode: the owner reads and writes, the group may, others may not (0600 to 0660)"},
                      TBadCase{{"--control", "s", "--control-mode", "rw"},
                               "--control-mode needs an octal file mode such as 0660"},
                      TBadCase{{"--control-mode", "0660"},
                               "--control-mode needs --control PATH or --control-read-only PATH"},
                      TBadCase{{"--control", "s", "--control-read-only", "s"},
                               "--control and --control-read-only need two paths"}),
    testsupport::TIndexName());

// Each option as the field it sets; both forms of a value give the same.
struct TGoodCase {
  std::vector<std::string> Args;
  std::function<std::string(const app::TOptions&)> Field;
  std::string Expect;
};

class GoodOptions : public ::testing::TestWithParam<TGoodCase> {};

TEST_P(GoodOptions, SetTheirField) {
  const auto r = Parse(GetParam().Args);
  EXPECT_EQ(r.ExitCode, -1) << r.Message;
  EXPECT_EQ(GetParam().Field(r.Options), GetParam().Expect);
  EXPECT_TRUE(r.Options.ToolkitArgs.empty());
}

std::string Flag(bool b) { return b ? "on" : "off"; }

INSTANTIATE_TEST_SUITE_P(
    Cases, GoodOptions,
    ::testing::Values(
        TGoodCase{{"--image=disk.img"}, [](const app::TOptions& o) { return o.Image; }, "disk.img"},
        TGoodCase{{"--control", "/run/b.sock", "--control-read-only=/run/v.sock"},
                  [](const app::TOptions& o) {
                    return o.ControlPath + " " + o.ControlReadOnlyPath + " " + std::to_string(o.ControlMode);
                  },
                  "/run/b.sock /run/v.sock 384"},  // 0600
        TGoodCase{{"--control=s", "--control-mode", "0660"},
                  [](const app::TOptions& o) { return std::to_string(o.ControlMode); }, "432"},
        TGoodCase{{"--image=a=b.img"}, [](const app::TOptions& o) { return o.Image; }, "a=b.img"},
        TGoodCase{{"--com1=/dev/ttyUSB1"}, [](const app::TOptions& o) { return o.Com1; },
                  "/dev/ttyUSB1"},
        TGoodCase{{"--com2=/dev/pts/3", "--port2"}, [](const app::TOptions& o) { return o.Com2; },
                  "/dev/pts/3"},
        TGoodCase{{"--pty", "/tmp/board"}, [](const app::TOptions& o) { return o.PtyLink; },
                  "/tmp/board"},
        TGoodCase{{"--pty=/tmp/board"}, [](const app::TOptions& o) { return o.PtyLink; },
                  "/tmp/board"},
        TGoodCase{{"--log", "board.log"}, [](const app::TOptions& o) { return o.LogFile; },
                  "board.log"},
        TGoodCase{{"--log=board.log"}, [](const app::TOptions& o) { return o.LogFile; },
                  "board.log"},
        TGoodCase{{}, [](const app::TOptions& o) { return Flag(o.Terminal) + Flag(o.Headless); },
                  "offoff"},
        TGoodCase{{"--terminal"}, [](const app::TOptions& o) { return Flag(o.Terminal); }, "on"},
        TGoodCase{{"--headless", "--pty", "p", "--log", "l"},
                  [](const app::TOptions& o) { return Flag(o.Headless) + o.PtyLink + o.LogFile; },
                  "onpl"},
        TGoodCase{{"--no-keyboard"},
                  [](const app::TOptions& o) { return Flag(o.NoKeyboard) + Flag(o.NoVideo); },
                  "onoff"},
        TGoodCase{{"--no-video"},
                  [](const app::TOptions& o) { return Flag(o.NoKeyboard) + Flag(o.NoVideo); },
                  "offon"},
        TGoodCase{{}, [](const app::TOptions& o) { return Flag(o.ReadOnly) + Flag(o.FullKeys); },
                  "offoff"},
        TGoodCase{{"--read-only"},
                  [](const app::TOptions& o) { return Flag(o.ReadOnly) + Flag(o.FullKeys); }, "onoff"},
        TGoodCase{{"--full-keys"},
                  [](const app::TOptions& o) { return Flag(o.ReadOnly) + Flag(o.FullKeys); }, "offon"},
        TGoodCase{{"--no-reconnect"}, [](const app::TOptions& o) { return Flag(o.NoReconnect); }, "on"},
        TGoodCase{{"--trace", "wire.log"},
                  [](const app::TOptions& o) { return o.TraceFile + Flag(o.TraceData); }, "wire.logoff"},
        TGoodCase{{"--trace-data", "--trace=wire.log"},
                  [](const app::TOptions& o) { return o.TraceFile + Flag(o.TraceData); }, "wire.logon"},
        TGoodCase{{}, [](const app::TOptions& o) { return Flag(o.List); }, "off"},
        TGoodCase{{"--com1", "/dev/ttyUSB0", "--list"}, [](const app::TOptions& o) { return Flag(o.List); }, "on"}),
    testsupport::TIndexName());

TEST(Options, VersionPrintsTheProgramAndItsVersionAndExitsZero) {
  const auto r = Parse({"--connect", "--version"});
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_EQ(r.Message, "consolew 1.01\n");
}

TEST(Options, UsageDescribesTheNewOptions) {
  const std::string usage = app::Usage();
  for (const char* line :
       {"--terminal      no window: draw the board's screen in this terminal (Ctrl-] then ? for help)\n",
        "--pty LINK      also offer the console on a new pseudo-terminal, LINK a symlink to it\n",
        "--headless      no window and no terminal screen (with --pty and --log)\n",
        "--log FILE      append the board's text output and the console's messages to FILE\n",
        "--no-keyboard / --no-video  leave the service unticked\n",
        "--list          list the serial ports this machine has, one a line", "--version"}) {
    EXPECT_NE(usage.find(line), std::string::npos) << line;
  }
}

TEST(Options, ToolkitOptionsArePassedOnInOrder) {
  const auto r = Parse({"-platform", "offscreen", "--connect", "-reverse"});
  EXPECT_EQ(r.ExitCode, -1);
  EXPECT_EQ(r.Options.ToolkitArgs, (std::vector<std::string>{"-platform", "offscreen", "-reverse"}));
}

}  // namespace
