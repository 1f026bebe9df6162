#include "app/display_check.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <map>

#include "tests/support/param_names.h"

namespace {

using app::TDisplayKind;

struct TParseCase {
  const char* Display;
  TDisplayKind Kind;
  const char* Host;
  unsigned Number, Screen;
};

class DisplayNames : public ::testing::TestWithParam<TParseCase> {};

TEST_P(DisplayNames, Parse) {
  const auto& c = GetParam();
  const app::TDisplayName n = app::ParseDisplay(c.Display);
  EXPECT_EQ(n.Kind, c.Kind) << c.Display;
  if (c.Kind == TDisplayKind::dkLocal || c.Kind == TDisplayKind::dkTcp) {
    EXPECT_EQ(n.Host, c.Host) << c.Display;
    EXPECT_EQ(n.Number, c.Number) << c.Display;
    EXPECT_EQ(n.Screen, c.Screen) << c.Display;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DisplayNames,
    ::testing::Values(TParseCase{":0", TDisplayKind::dkLocal, "", 0, 0},
                      TParseCase{":1.2", TDisplayKind::dkLocal, "", 1, 2},
                      TParseCase{":97", TDisplayKind::dkLocal, "", 97, 0},
                      TParseCase{"unix:5", TDisplayKind::dkLocal, "", 5, 0},
                      TParseCase{"unix:5.1", TDisplayKind::dkLocal, "", 5, 1},
                      TParseCase{"localhost:10.0", TDisplayKind::dkTcp, "localhost", 10, 0},
                      TParseCase{"board-pc.lan:3", TDisplayKind::dkTcp, "board-pc.lan", 3, 0},
                      TParseCase{"tcp/10.0.0.7:1", TDisplayKind::dkTcp, "10.0.0.7", 1, 0},
                      TParseCase{"[::1]:4", TDisplayKind::dkTcp, "::1", 4, 0},
                      TParseCase{"::1:2.1", TDisplayKind::dkTcp, "::1", 2, 1},
                      TParseCase{"host::0", TDisplayKind::dkOther, "", 0, 0},
                      TParseCase{"/tmp/launch-x/org.xquartz:0", TDisplayKind::dkOther, "", 0, 0},
                      TParseCase{"inet6/host:0", TDisplayKind::dkOther, "", 0, 0},
                      TParseCase{"", TDisplayKind::dkInvalid, "", 0, 0},
                      TParseCase{"0", TDisplayKind::dkInvalid, "", 0, 0},
                      TParseCase{":", TDisplayKind::dkInvalid, "", 0, 0},
                      TParseCase{":x", TDisplayKind::dkInvalid, "", 0, 0},
                      TParseCase{":1.", TDisplayKind::dkInvalid, "", 0, 0},
                      TParseCase{":-1", TDisplayKind::dkInvalid, "", 0, 0},
                      TParseCase{":1 ", TDisplayKind::dkInvalid, "", 0, 0},
                      TParseCase{"host:60000", TDisplayKind::dkInvalid, "", 0, 0}),
    testsupport::TIndexName());

struct TTargetCase {
  std::vector<std::string> ToolkitArgs;
  std::map<std::string, std::string> Env;
  const char* Label;  // null: no xcb check
};

class XcbTargets : public ::testing::TestWithParam<TTargetCase> {};

TEST_P(XcbTargets, FollowThePlatformQtWouldStart) {
  const auto& c = GetParam();
  const auto target = app::XcbTarget(c.ToolkitArgs, [&](const char* name) -> const char* {
    const auto it = c.Env.find(name);
    return it == c.Env.end() ? nullptr : it->second.c_str();
  });
  if (c.Label == nullptr) {
    EXPECT_FALSE(target.has_value()) << target->Label;
  } else {
    ASSERT_TRUE(target.has_value());
    EXPECT_EQ(target->Label, c.Label);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, XcbTargets,
    ::testing::Values(
        TTargetCase{{}, {{"DISPLAY", ":0"}}, "DISPLAY=:0"},
        TTargetCase{{}, {{"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", "xcb"}}, "DISPLAY=:0"},
        TTargetCase{{}, {{"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", ""}}, "DISPLAY=:0"},
        TTargetCase{{}, {{"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", "offscreen"}}, nullptr},
        TTargetCase{{}, {{"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", "wayland;xcb"}}, nullptr},
        TTargetCase{{"-platform", "offscreen"}, {{"DISPLAY", ":0"}}, nullptr},
        TTargetCase{{"-platform", "xcb"}, {{"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", "offscreen"}},
                    "DISPLAY=:0"},
        TTargetCase{{"-platform", "xcb:nograb"}, {}, "DISPLAY="},
        TTargetCase{{"-display", ":3"}, {{"DISPLAY", ":0"}}, "-display :3"},
        TTargetCase{{}, {{"WAYLAND_DISPLAY", "wayland-0"}}, nullptr},
        TTargetCase{{}, {{"DISPLAY", ":0"}, {"WAYLAND_DISPLAY", "wayland-0"}}, nullptr},
        TTargetCase{{}, {{"DISPLAY", ":0"}, {"WAYLAND_DISPLAY", ""}}, "DISPLAY=:0"},
        TTargetCase{{"-platform", "xcb"}, {{"DISPLAY", ":0"}, {"WAYLAND_DISPLAY", "wayland-0"}},
                    "DISPLAY=:0"}),
    testsupport::TIndexName());

// A directory of its own for server sockets, removed at the end.
class LocalDisplay : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "x11-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    Dir = pattern;
  }
  void TearDown() override {
    for (int fd : Fds) ::close(fd);
    std::error_code ignored;
    std::filesystem::remove_all(Dir, ignored);
  }
  // A listening socket at `path` (abstract when it starts with '\0'); closed
  // again at once when `listening` is false, leaving the file behind.
  void Serve(const std::string& path, bool listening = true) {
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof a.sun_path);
    std::memcpy(a.sun_path, path.data(), path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() +
                                               (path[0] == '\0' ? 0 : 1));
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&a), length), 0) << std::strerror(errno);
    ASSERT_EQ(::listen(fd, 4), 0);
    if (listening) {
      Fds.push_back(fd);
    } else {
      ::close(fd);
    }
  }
  std::string Connect(unsigned number) {
    app::TDisplayName n;
    n.Kind = TDisplayKind::dkLocal;
    n.Number = number;
    return app::ConnectDisplay(n, Dir);
  }
  std::string Dir;
  std::vector<int> Fds;
};

TEST_F(LocalDisplay, ServerSocketInTheDirectoryOrTheAbstractNamespace) {
  Serve(Dir + "/X7");
  Serve(std::string(1, '\0') + Dir + "/X9");
  Serve(Dir + "/X4", false);
  EXPECT_EQ(Connect(7), "");
  EXPECT_EQ(Connect(9), "");
  EXPECT_EQ(Connect(4), Dir + "/X4: Connection refused");
  EXPECT_EQ(Connect(8), Dir + "/X8: No such file or directory");
}

TEST(UnreachableDisplay, IsOneLineNamingTheDisplayAndTheWayOut) {
  const auto env = [](const char* name) -> const char* {
    return std::string_view(name) == "DISPLAY" ? "board" : nullptr;
  };
  EXPECT_EQ(app::UnreachableDisplay({}, env),
            "consolew: cannot reach the display DISPLAY=board: not a display name (:N, :N.S, "
            "host:N or unix:N); start it from a desktop session, or use -platform offscreen\n");
  EXPECT_EQ(app::UnreachableDisplay({"-platform", "offscreen"}, env), std::nullopt);
}

}  // namespace
