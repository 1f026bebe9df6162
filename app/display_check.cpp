#include "app/display_check.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace app {

namespace {

constexpr unsigned kX11TcpPort = 6000;
constexpr int kConnectMs = 5000;

// Digits only, within `limit`.
std::optional<unsigned> Number(std::string_view s, unsigned limit) {
  if (s.empty()) return std::nullopt;
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc() || end != s.data() + s.size() || value > limit) return std::nullopt;
  return value;
}

std::string ErrorText(int error) { return std::strerror(error); }

// Connects `fd` to `address`, waiting at most `timeoutMs`; 0 or the errno.
int ConnectWithin(int fd, const sockaddr* address, socklen_t length, int timeoutMs) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return errno;
  if (::connect(fd, address, length) == 0) return 0;
  if (errno != EINPROGRESS) return errno;
  pollfd p{fd, POLLOUT, 0};
  int r;
  do {
    r = ::poll(&p, 1, timeoutMs);
  } while (r < 0 && errno == EINTR);
  if (r < 0) return errno;
  if (r == 0) return ETIMEDOUT;
  int error = 0;
  socklen_t size = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return errno;
  return error;
}

// 0 or the errno of connecting to the unix socket `path` (abstract when it starts with '\0').
int ConnectUnix(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return ENAMETOOLONG;
  std::memcpy(address.sun_path, path.data(), path.size());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return errno;
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() +
                                             (path[0] == '\0' ? 0 : 1));
  const int error = ConnectWithin(fd, reinterpret_cast<const sockaddr*>(&address), length,
                                  kConnectMs);
  ::close(fd);
  // A full backlog still means a server listens there.
  return error == EAGAIN ? 0 : error;
}

std::string ConnectTcp(const std::string& host, unsigned port) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (const int r = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); r != 0) {
    return host + ": " + ::gai_strerror(r);
  }
  int error = EHOSTUNREACH;
  for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      error = errno;
      continue;
    }
    error = ConnectWithin(fd, a->ai_addr, a->ai_addrlen, kConnectMs);
    ::close(fd);
    if (error == 0) break;
  }
  ::freeaddrinfo(found);
  return error == 0 ? "" : host + ":" + service + ": " + ErrorText(error);
}

std::string_view Value(const TEnvLookup& env, const char* name) {
  const char* v = env ? env(name) : nullptr;
  return v != nullptr ? std::string_view(v) : std::string_view();
}

// The value of toolkit option `name` (the last one given), if any.
std::optional<std::string> ToolkitValue(const std::vector<std::string>& args, const char* name) {
  std::optional<std::string> value;
  for (size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == name) value = args[i + 1];
  }
  return value;
}

}  // namespace

TDisplayName ParseDisplay(std::string_view display) {
  TDisplayName name;
  const size_t colon = display.rfind(':');
  if (colon == std::string_view::npos) return name;
  std::string_view host = display.substr(0, colon);
  const std::string_view rest = display.substr(colon + 1);
  if (!host.empty() && (host.back() == ':' || host.front() == '/')) {
    name.Kind = TDisplayKind::dkOther;
    return name;
  }
  const size_t dot = rest.find('.');
  const auto number = Number(rest.substr(0, dot), 65535 - kX11TcpPort);
  const auto screen = dot == std::string_view::npos ? std::optional<unsigned>(0)
                                                    : Number(rest.substr(dot + 1), 65535);
  if (!number || !screen) return name;
  name.Number = *number;
  name.Screen = *screen;
  // "protocol/host": only the two this check knows.
  if (const size_t slash = host.find('/'); slash != std::string_view::npos) {
    const std::string_view protocol = host.substr(0, slash);
    host = host.substr(slash + 1);
    if (protocol == "unix") {
      name.Kind = TDisplayKind::dkLocal;
      return name;
    }
    if (protocol != "tcp" || host.empty()) {
      name.Kind = TDisplayKind::dkOther;
      return name;
    }
  } else if (host.empty() || host == "unix") {
    name.Kind = TDisplayKind::dkLocal;
    return name;
  }
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  name.Kind = TDisplayKind::dkTcp;
  name.Host = std::string(host);
  return name;
}

std::optional<TXcbTarget> XcbTarget(const std::vector<std::string>& toolkitArgs,
                                    const TEnvLookup& env) {
  std::string platform = ToolkitValue(toolkitArgs, "-platform").value_or("");
  if (platform.empty()) platform = std::string(Value(env, "QT_QPA_PLATFORM"));
  // "xcb:option=value" names xcb; a list ("wayland;xcb") is Qt's to try in turn.
  const std::string plugin = platform.substr(0, platform.find(':'));
  if (!plugin.empty() && plugin != "xcb") return std::nullopt;
  if (plugin.empty() && !Value(env, "WAYLAND_DISPLAY").empty()) return std::nullopt;
  if (const auto display = ToolkitValue(toolkitArgs, "-display")) {
    return TXcbTarget{"-display " + *display, *display};
  }
  const std::string display(Value(env, "DISPLAY"));
  return TXcbTarget{"DISPLAY=" + display, display};
}

std::string ConnectDisplay(const TDisplayName& name, const std::string& socketDir) {
  switch (name.Kind) {
    case TDisplayKind::dkLocal: {
      const std::string path = socketDir + "/X" + std::to_string(name.Number);
      // X servers on Linux listen in the abstract namespace too; either will do.
      if (ConnectUnix(std::string(1, '\0') + path) == 0) return "";
      const int error = ConnectUnix(path);
      return error == 0 ? "" : path + ": " + ErrorText(error);
    }
    case TDisplayKind::dkTcp:
      return ConnectTcp(name.Host, kX11TcpPort + name.Number);
    case TDisplayKind::dkInvalid:
      return "not a display name (:N, :N.S, host:N or unix:N)";
    case TDisplayKind::dkOther:
      break;
  }
  return "";
}

std::optional<std::string> UnreachableDisplay(const std::vector<std::string>& toolkitArgs,
                                              const TEnvLookup& env) {
  const auto target = XcbTarget(toolkitArgs, env);
  if (!target) return std::nullopt;
  const std::string why =
      target->Display.empty() ? "no display given" : ConnectDisplay(ParseDisplay(target->Display));
  if (why.empty()) return std::nullopt;
  return "consolew: cannot reach the display " + target->Label + ": " + why +
         "; start it from a desktop session, or use -platform offscreen\n";
}

}  // namespace app
