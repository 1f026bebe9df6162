// Runs against a real X server (for example Xvfb -noreset); skipped without one.
#include "keyboard/x11_locks.h"

#include <gtest/gtest.h>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace keyboard {
namespace {

class X11LocksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Dpy = XOpenDisplay(nullptr);
    if (Dpy == nullptr) GTEST_SKIP() << "no X display";
    NumMask = XkbKeysymToModifiers(Dpy, XK_Num_Lock);
    XkbStateRec state{};
    XkbGetState(Dpy, XkbUseCoreKbd, &state);
    SavedLocks = state.locked_mods;
  }
  void TearDown() override {
    if (Dpy == nullptr) return;
    XkbLockModifiers(Dpy, XkbUseCoreKbd, LockMask | NumMask, SavedLocks & (LockMask | NumMask));
    XSync(Dpy, False);
    XCloseDisplay(Dpy);
  }
  void Lock(unsigned mask, bool on) {
    XkbLockModifiers(Dpy, XkbUseCoreKbd, mask, on ? mask : 0);
    XSync(Dpy, False);
  }

  Display* Dpy = nullptr;
  unsigned NumMask = 0;
  unsigned SavedLocks = 0;
};

TEST_F(X11LocksTest, FollowsTheServersLockState) {
  ASSERT_NE(NumMask, 0u);
  Lock(LockMask, true);
  Lock(NumMask, false);
  TLockIndicators locks = ReadX11Locks(Dpy);
  EXPECT_EQ(locks.CapsLock, std::optional<bool>(true));
  EXPECT_EQ(locks.NumLock, std::optional<bool>(false));
  Lock(LockMask, false);
  Lock(NumMask, true);
  locks = ReadX11Locks(Dpy);
  EXPECT_EQ(locks.CapsLock, std::optional<bool>(false));
  EXPECT_EQ(locks.NumLock, std::optional<bool>(true));
}

}  // namespace
}  // namespace keyboard
