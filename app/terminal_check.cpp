#include "app/terminal_check.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <fstream>
#include <iterator>

namespace app {

namespace {

// Families of terminals that take xterm's sequences; TERM is the name or the
// name followed by '-' or '.' and a variant ("xterm-256color", "screen.xterm-256color").
constexpr std::array<std::string_view, 27> kKnownFamilies = {
    "xterm", "screen", "tmux", "rxvt", "linux", "vt100", "vt102", "vt220", "vt320", "vt420", "vt520",
    "ansi", "alacritty", "kitty", "xterm-kitty", "foot", "st", "konsole", "gnome", "vte", "putty",
    "wezterm", "contour", "mintty", "iterm2", "ghostty", "mlterm"};

// What ncurses compiles for xterm's cursor address.
constexpr std::string_view kXtermCup = "\x1b[%i%p1%d;%p2%dH";
constexpr size_t kMaxEntry = 1 << 16;
constexpr size_t kMaxTermName = 128;
constexpr size_t kCupIndex = 10;  // the string capability's number in the compiled order

bool InFamily(std::string_view term, std::string_view family) {
  return term.starts_with(family) &&
         (term.size() == family.size() || term[family.size()] == '-' || term[family.size()] == '.');
}

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

int Short(std::string_view bytes, size_t at) {
  const auto lo = static_cast<uint8_t>(bytes[at]);
  const auto hi = static_cast<uint8_t>(bytes[at + 1]);
  return static_cast<int16_t>(static_cast<uint16_t>(lo | (hi << 8)));
}

// The compiled entry of `term`, from the first directory that has it.
std::optional<std::string> ReadEntry(const std::string& term, const TEnvLookup& env) {
  char hex[3];
  static constexpr char kDigits[] = "0123456789abcdef";
  const auto first = static_cast<uint8_t>(term[0]);
  hex[0] = kDigits[first >> 4];
  hex[1] = kDigits[first & 15];
  hex[2] = 0;
  for (const std::string& dir : TerminfoDirs(env)) {
    for (const std::string& sub : {std::string(1, term[0]), std::string(hex)}) {
      std::ifstream in(dir + "/" + sub + "/" + term, std::ios::binary);
      if (!in) continue;
      std::string bytes;
      bytes.resize(kMaxEntry);
      in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      bytes.resize(static_cast<size_t>(in.gcount()));
      return bytes;
    }
  }
  return std::nullopt;
}

}  // namespace

bool LocaleIsUtf8(const TEnvLookup& env) {
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = env(name);
    if (value == nullptr || *value == 0) continue;
    const std::string locale = Lower(value);
    const size_t dot = locale.find('.');
    if (dot == std::string::npos) return false;  // "C", "POSIX", "de_DE": not UTF-8
    std::string codeset = locale.substr(dot + 1, locale.find('@', dot) - dot - 1);
    std::erase(codeset, '-');
    return codeset == "utf8";
  }
  return false;
}

std::vector<std::string> TerminfoDirs(const TEnvLookup& env) {
  std::vector<std::string> dirs;
  const char* terminfo = env("TERMINFO");
  if (terminfo != nullptr && *terminfo != 0) dirs.emplace_back(terminfo);
  const char* home = env("HOME");
  if (home != nullptr && *home != 0) dirs.push_back(std::string(home) + "/.terminfo");
  const std::vector<std::string> system = {"/etc/terminfo", "/lib/terminfo", "/usr/share/terminfo"};
  const char* list = env("TERMINFO_DIRS");
  if (list != nullptr && *list != 0) {
    // Colon-separated; an empty member stands for the system's directories.
    std::string_view rest = list;
    while (true) {
      const size_t colon = rest.find(':');
      const std::string_view member = rest.substr(0, colon);
      if (member.empty()) {
        dirs.insert(dirs.end(), system.begin(), system.end());
      } else {
        dirs.emplace_back(member);
      }
      if (colon == std::string_view::npos) break;
      rest.remove_prefix(colon + 1);
    }
  } else {
    dirs.insert(dirs.end(), system.begin(), system.end());
  }
  return dirs;
}

std::optional<std::string> TerminfoCursorAddress(std::string_view entry) {
  // Header: magic, then the sizes of the names, booleans, numbers, string
  // offsets and string table, all 16-bit little-endian.
  if (entry.size() < 12) return std::nullopt;
  const int magic = Short(entry, 0);
  if (magic != 0432 && magic != 01036) return std::nullopt;
  const int numberSize = magic == 01036 ? 4 : 2;
  const int names = Short(entry, 2), bools = Short(entry, 4), numbers = Short(entry, 6);
  const int strings = Short(entry, 8), table = Short(entry, 10);
  if (names < 0 || bools < 0 || numbers < 0 || strings < 0 || table < 0) return std::nullopt;
  size_t at = 12 + static_cast<size_t>(names) + static_cast<size_t>(bools);
  at += at % 2;  // the numbers start on an even byte
  at += static_cast<size_t>(numbers) * static_cast<size_t>(numberSize);
  const size_t tableStart = at + static_cast<size_t>(strings) * 2;
  if (static_cast<size_t>(strings) <= kCupIndex || tableStart + static_cast<size_t>(table) > entry.size()) {
    return std::nullopt;
  }
  const int offset = Short(entry, at + kCupIndex * 2);
  if (offset < 0 || offset >= table) return std::nullopt;  // absent (-1) or cancelled (-2)
  const std::string_view text = entry.substr(tableStart + static_cast<size_t>(offset),
                                             static_cast<size_t>(table - offset));
  return std::string(text.substr(0, text.find('\0')));
}

TTerminalCheck CheckTerminal(const TEnvLookup& env) {
  TTerminalCheck check;
  check.Style.TrueColor = display::TTerminalWriter::TrueColorFromEnv(env("COLORTERM"));
  check.Style.Utf8 = LocaleIsUtf8(env);
  const char* value = env("TERM");
  const std::string term = value != nullptr ? value : "";
  check.Style.LinuxConsole = InFamily(term, "linux");
  if (term.empty()) {
    check.Why = "TERM is not set";
    return check;
  }
  if (InFamily(term, "dumb")) {
    check.Why = "TERM=" + term + ": no cursor addressing";
    return check;
  }
  if (std::any_of(kKnownFamilies.begin(), kKnownFamilies.end(),
                  [&term](std::string_view family) { return InFamily(term, family); })) {
    check.Usable = true;
    return check;
  }
  // A name of its own: the terminal database decides. A name that could
  // leave the database's directories is no terminal's.
  if (term.size() > kMaxTermName || term.find('/') != std::string::npos || term[0] == '.') {
    check.Why = "TERM=" + term + ": not a terminal's name";
    return check;
  }
  const auto entry = ReadEntry(term, env);
  if (!entry) {
    check.Why = "TERM=" + term + ": not in the terminal database";
    return check;
  }
  const auto cup = TerminfoCursorAddress(*entry);
  if (!cup || *cup != kXtermCup) {
    check.Why = "TERM=" + term + (cup ? ": its cursor addressing is not xterm's" : ": no cursor addressing");
    return check;
  }
  check.Usable = true;
  return check;
}

}  // namespace app
