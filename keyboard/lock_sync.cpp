#include "keyboard/lock_sync.h"

#include <QGuiApplication>
#include <optional>

#include "keyboard/x11_locks.h"

#if QT_CONFIG(xcb)
#include <QtGui/qguiapplication_platform.h>
#endif

namespace keyboard {

namespace {

void* X11Display() {
#if QT_CONFIG(xcb)
  auto* app = qGuiApp;
  if (app == nullptr) return nullptr;
  if (auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>()) return x11->display();
#endif
  return nullptr;
}

}  // namespace

void SyncLocksFromSystem(TKeyboard& kbd) {
  const TLockIndicators locks = ReadX11Locks(X11Display());
  kbd.SyncLocks(std::nullopt, locks.NumLock, locks.CapsLock);
}

void SyncHeldKeysFromSystem(TKeyboard& kbd) {
  const Qt::KeyboardModifiers held = QGuiApplication::queryKeyboardModifiers();
  kbd.ReleaseKeysNotHeld(held.testFlag(Qt::ShiftModifier), held.testFlag(Qt::ControlModifier),
                         held.testFlag(Qt::AltModifier));
}

}  // namespace keyboard
