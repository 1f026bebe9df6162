// Real key events: the console runs in its own X server (Xvfb), xdotool types
// into its window, and the simulated board collects the BIOS codes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/e2e/e2e_support.h"
#include "tests/e2e/xvfb_server.h"

namespace {

TEST(XvfbKeys, KeysTypedWithXdotoolReachTheBoard) {
  const auto xvfb = e2e::FindTool("Xvfb");
  const auto xdotool = e2e::FindTool("xdotool");
  if (!xvfb || !xdotool) GTEST_SKIP() << "Xvfb or xdotool is not installed (Debian packages xvfb, xdotool)";
  e2e::TXvfb server(*xvfb);
  ASSERT_FALSE(server.Display.empty()) << "Xvfb did not start";
  const std::vector<std::string> env{"DISPLAY=" + server.Display, "QT_QPA_PLATFORM=xcb"};

  e2e::TRunResult board;
  std::thread boardThread([&] {
    board = e2e::Run({e2e::BoardSimPath(), "--unpaced", "--timeout", "40", "--script", "keys", "4",
                      "--console", e2e::ConsolePath()},
                     60, env);
  });
  const auto found = e2e::Run({*xdotool, "search", "--sync", "--onlyvisible", "--name", "Remote console"},
                              30, env);
  std::string window = found.Out.substr(0, found.Out.find('\n'));
  bool typed = false;
  if (found.Status == 0 && !window.empty()) {
    // No window manager runs: focus the window directly (windowactivate needs one).
    const auto focus = e2e::Run({*xdotool, "windowfocus", "--sync", window}, 15, env);
    EXPECT_EQ(focus.Status, 0) << focus.Err;
    const auto keys = e2e::Run({*xdotool, "key", "--delay", "20", "a", "b", "Return", "F1"}, 15, env);
    EXPECT_EQ(keys.Status, 0) << keys.Err;
    typed = keys.Status == 0;
  }
  boardThread.join();
  ASSERT_FALSE(window.empty()) << "the console window did not appear: " << found.Err << board.Err;
  ASSERT_TRUE(typed);
  ASSERT_EQ(board.Status, 0) << board.Out << board.Err;
  EXPECT_EQ(e2e::JsonField(board.Out, "codes").value_or(""), "[\"1E61\",\"3062\",\"1C0D\",\"3B00\"]")
      << board.Out;
}

}  // namespace
