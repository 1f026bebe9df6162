#include "comm/port_list.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string_view>

namespace comm {
namespace {

namespace fs = std::filesystem;

struct TFamily {
  std::string_view Prefix;
  bool NeedsUart;  // listed only when a UART answers
};
constexpr std::array<TFamily, 3> kFamilies = {{{"ttyUSB", false}, {"ttyACM", false}, {"ttyS", true}}};

// "ttyUSB10" after "ttyUSB9".
bool ByNumber(const std::string& a, const std::string& b) {
  const auto digits = [](const std::string& s) { return s.find_first_of("0123456789"); };
  const size_t da = digits(a), db = digits(b);
  if (da == std::string::npos || db == std::string::npos || a.substr(0, da) != b.substr(0, db)) return a < b;
  return std::strtoul(a.c_str() + da, nullptr, 10) < std::strtoul(b.c_str() + db, nullptr, 10);
}

}  // namespace

bool AnswersAsSerialPort(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    // A port the user may not open (yet) is still a port: choosing it shows why it fails.
    return errno == EACCES || errno == EBUSY;
  }
  serial_struct s{};
  const bool uart = ::ioctl(fd, TIOCGSERIAL, &s) == 0 && s.type != PORT_UNKNOWN;
  ::close(fd);
  return uart;
}

std::vector<TPortEntry> ListSerialPorts(const std::string& dev,
                                        const std::function<bool(const std::string&)>& isUart) {
  std::vector<TPortEntry> ports;
  std::error_code ec;
  const fs::path byId = fs::path(dev) / "serial" / "by-id";
  std::vector<TPortEntry> stable;
  for (const auto& e : fs::directory_iterator(byId, ec)) {
    const fs::path target = fs::canonical(e.path(), ec);
    if (ec) continue;
    stable.push_back({e.path().string(), target.filename().string(), target.string()});
  }
  std::sort(stable.begin(), stable.end(), [](const TPortEntry& a, const TPortEntry& b) { return a.Path < b.Path; });
  ports.insert(ports.end(), stable.begin(), stable.end());

  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dev, ec)) names.push_back(e.path().filename().string());
  for (const TFamily& family : kFamilies) {
    std::vector<std::string> members;
    for (const std::string& n : names) {
      if (n.size() > family.Prefix.size() && n.compare(0, family.Prefix.size(), family.Prefix) == 0 &&
          std::isdigit(static_cast<unsigned char>(n[family.Prefix.size()]))) {
        members.push_back(n);
      }
    }
    std::sort(members.begin(), members.end(), ByNumber);
    for (const std::string& n : members) {
      const std::string path = (fs::path(dev) / n).string();
      if (family.NeedsUart && !isUart(path)) continue;
      ports.push_back({path, {}, {}});
    }
  }
  return ports;
}

std::string PortListLine(const TPortEntry& port) {
  return port.Target.empty() ? port.Path : port.Path + " -> " + port.Target;
}

}  // namespace comm
