#include "keyboard/lock_sync.h"

#include <gtest/gtest.h>

#include <QGuiApplication>

#include <string>

#include "keyboard/x11_locks.h"

namespace keyboard {
namespace {

TEST(X11Locks, NoDisplayGivesNoState) {
  const TLockIndicators locks = ReadX11Locks(nullptr);
  EXPECT_FALSE(locks.NumLock.has_value());
  EXPECT_FALSE(locks.CapsLock.has_value());
}

TEST(LockSync, WithoutAnXDisplayTheBitsStay) {
  if (QGuiApplication::platformName() != QLatin1String("offscreen")) {
    GTEST_SKIP() << "needs the offscreen platform (no X display)";
  }
  for (uint8_t flags : {uint8_t{0x00}, uint8_t{0x74}, uint8_t{0x29}}) {
    TKeyboard kbd;
    std::string shown = "none";
    kbd.OnStateText = [&](const std::string& text) { shown = text; };
    kbd.ShiftFlags = flags;
    SyncLocksFromSystem(kbd);
    EXPECT_EQ(kbd.ShiftFlags, flags);
    EXPECT_EQ(shown, KBDStateText(flags));
  }
}

}  // namespace
}  // namespace keyboard
