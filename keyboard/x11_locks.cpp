#include "keyboard/x11_locks.h"

#if defined(CONSOLEW_HAVE_X11)
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#endif

namespace keyboard {

#if defined(CONSOLEW_HAVE_X11)
namespace {

std::optional<bool> NamedIndicator(Display* display, const char* name) {
  const Atom atom = XInternAtom(display, name, True);
  if (atom == 0) return std::nullopt;  // no such indicator name on this server
  Bool on = False;
  if (!XkbGetNamedIndicator(display, atom, nullptr, &on, nullptr, nullptr)) return std::nullopt;
  return on != False;
}

}  // namespace

TLockIndicators ReadX11Locks(void* display) {
  if (display == nullptr) return {};
  auto* dpy = static_cast<Display*>(display);
  return {NamedIndicator(dpy, "Num Lock"), NamedIndicator(dpy, "Caps Lock")};
}
#else
TLockIndicators ReadX11Locks(void* /*display*/) { return {}; }
#endif

}  // namespace keyboard
