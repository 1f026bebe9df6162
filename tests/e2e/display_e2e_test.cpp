// The console started with a DISPLAY no X server answers on: one line saying
// so and status 1, instead of the toolkit's abort.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tests/e2e/e2e_support.h"

namespace {

TEST(DisplayE2E, UnreachableDisplayIsOneLineAndStatusOne) {
  if (std::filesystem::exists("/tmp/.X11-unix/X97")) GTEST_SKIP() << "an X server may run on :97";
  const e2e::TRunResult r = e2e::Run({e2e::ConsolePath()}, 30,
                                     {"DISPLAY=:97", "QT_QPA_PLATFORM=", "WAYLAND_DISPLAY="});
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.Status, 1) << r.Err;
  EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err;
  EXPECT_EQ(r.Err,
            "consolew: cannot reach the display DISPLAY=:97: /tmp/.X11-unix/X97: No such file or "
            "directory; start it from a desktop session, or use -platform offscreen\n");
  EXPECT_EQ(r.Out, "");
}

}  // namespace
