// Whether the X display the window would open can be reached, found out before
// Qt's xcb platform starts (which aborts the program when it cannot connect).
// Plain sockets: no X library.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace app {

enum class TDisplayKind {
  dkLocal,    // ":N", ":N.S", "unix:N": the server's socket on this machine
  dkTcp,      // "host:N": TCP port 6000 + N on that host
  dkInvalid,  // not a display name
  dkOther,    // a form this check does not know (DECnet "host::N", a socket path): left to Qt
};

struct TDisplayName {
  TDisplayKind Kind = TDisplayKind::dkInvalid;
  std::string Host;  // dkTcp only
  unsigned Number = 0;
  unsigned Screen = 0;
};

TDisplayName ParseDisplay(std::string_view display);

// The value of an environment variable, or null.
using TEnvLookup = std::function<const char*(const char* name)>;

// The X display Qt would connect to, when its platform would be xcb: the
// -platform toolkit option (else QT_QPA_PLATFORM) names xcb, or names nothing
// while WAYLAND_DISPLAY is unset. The display is -display's value, else DISPLAY.
// Nothing when another platform would start.
struct TXcbTarget {
  std::string Label;    // how the user gave it: "DISPLAY=:0" or "-display :0"
  std::string Display;  // may be empty (none given)
};
std::optional<TXcbTarget> XcbTarget(const std::vector<std::string>& toolkitArgs,
                                    const TEnvLookup& env);

// Connects to the display's server and hangs up at once: empty when that
// worked, otherwise why not. Local servers listen on `socketDir`/XN, and on
// the same name in the abstract namespace.
std::string ConnectDisplay(const TDisplayName& name,
                           const std::string& socketDir = "/tmp/.X11-unix");

// The one line to print (and exit 1) when the xcb platform would start on a
// display that cannot be reached; nothing when Qt may go ahead.
std::optional<std::string> UnreachableDisplay(const std::vector<std::string>& toolkitArgs,
                                              const TEnvLookup& env);

}  // namespace app
