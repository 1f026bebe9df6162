#include "app/options.h"

#include <array>
#include <string>
#include <optional>
#include <string_view>

#ifndef CONSOLEW_VERSION
#error "CONSOLEW_VERSION (the project version) must be defined by the build"
#endif

namespace app {
namespace {

// The console's options that take a value, and what the message says is missing.
struct TValueOption {
  std::string_view Name;
  std::string TOptions::*Field;
  std::string_view What;
};
constexpr std::array<TValueOption, 13> kValueOptions = {{
    {"--serve", &TOptions::ServeAddress, "[HOST:]PORT"},
    {"--attach", &TOptions::AttachPath, "a socket path"},
    {"--record", &TOptions::RecordFile, "a file name"},
    {"--control", &TOptions::ControlPath, "a socket path"},
    {"--control-read-only", &TOptions::ControlReadOnlyPath, "a socket path"},
    {"--control-mode", &TOptions::ControlModeText, "an octal file mode"},
    {"--com1", &TOptions::Com1, "a device path"},
    {"--com2", &TOptions::Com2, "a device path"},
    {"--image", &TOptions::Image, "a file name"},
    {"--pty", &TOptions::PtyLink, "a link name"},
    {"--log", &TOptions::LogFile, "a file name"},
    {"--trace", &TOptions::TraceFile, "a file name"},
    {"--screen-at-exit", &TOptions::ScreenAtExit, "a file name"},
}};

// The console's options without a value: each sets one field.
struct TFlagOption {
  std::string_view Name;
  bool TOptions::*Field;
  bool Value;
};
constexpr std::array<TFlagOption, 15> kFlagOptions = {{
    {"--take", &TOptions::Take, true},
    {"--connect", &TOptions::Connect, true},
    {"--port1", &TOptions::UseCom2, false},
    {"--port2", &TOptions::UseCom2, true},
    {"--terminal", &TOptions::Terminal, true},
    {"--headless", &TOptions::Headless, true},
    {"--no-keyboard", &TOptions::NoKeyboard, true},
    {"--no-video", &TOptions::NoVideo, true},
    {"--no-reconnect", &TOptions::NoReconnect, true},
    {"--no-auto-refresh", &TOptions::NoAutoRefresh, true},
    {"--read-only", &TOptions::ReadOnly, true},
    {"--full-keys", &TOptions::FullKeys, true},
    {"--trace-data", &TOptions::TraceData, true},
    {"--list", &TOptions::List, true},
    {"--log-timestamps", &TOptions::LogTimestamps, true},
}};

// Qt's own options that take a value; they are passed through to the toolkit.
constexpr std::array<std::string_view, 11> kToolkitWithValue = {
    "-platform", "-platformpluginpath", "-platformtheme", "-plugin", "-qwindowgeometry",
    "-qwindowtitle", "-qwindowicon", "-display", "-geometry", "-style", "-stylesheet"};
constexpr std::array<std::string_view, 5> kToolkitFlags = {"-reverse", "-nograb", "-dograb",
                                                           "-sync", "-widgetcount"};

template <size_t N>
bool In(const std::array<std::string_view, N>& list, std::string_view s) {
  for (auto item : list) {
    if (item == s) return true;
  }
  return false;
}

template <class T, size_t N>
const T* Find(const std::array<T, N>& table, std::string_view name) {
  for (const auto& entry : table) {
    if (entry.Name == name) return &entry;
  }
  return nullptr;
}

// "[HOST:]PORT" as --serve takes it: a port number, after a host when there is
// a ':' (whether the host is an address is for the web console to say).
bool IsServeAddress(std::string_view where) {
  const size_t colon = where.rfind(':');
  const std::string_view port = colon == std::string_view::npos ? where : where.substr(colon + 1);
  if (colon == 0 || port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string_view::npos) {
    return false;
  }
  return std::stoul(std::string(port)) <= 65535;
}

TParseResult Fail(const std::string& why) {
  TParseResult r;
  r.ExitCode = 2;
  r.Message = "consolew: " + why + "\n" + Usage();
  return r;
}

TParseResult Exit0(std::string message) {
  TParseResult r;
  r.ExitCode = 0;
  r.Message = std::move(message);
  return r;
}

}  // namespace

TOptionKind OptionKind(std::string_view name) {
  if (Find(kValueOptions, name) != nullptr) return TOptionKind::Value;
  if (Find(kFlagOptions, name) != nullptr) return TOptionKind::Flag;
  return TOptionKind::Unknown;
}

std::string VersionText() { return std::string("consolew ") + CONSOLEW_VERSION; }

std::string Usage() {
  return "Usage: consolew [PROFILE] [options]\n"
         "Remote console for an embedded x86 board on a serial line (115200 8N1).\n"
         "\n"
         "  --com1 DEVICE   device behind \"COM1\" (default /dev/ttyS0), e.g. /dev/ttyUSB0,\n"
         "                  /dev/serial/by-id/..., or a network serial server:\n"
         "                  rfc2217://HOST:PORT (telnet, RFC 2217) or tcp://HOST:PORT (raw)\n"
         "  --com2 DEVICE   device behind \"COM2\" (default /dev/ttyS1)\n"
         "  --port1, --port2  select COM1 or COM2 at start (default COM1)\n"
         "  --image FILE    serve this floppy image (ticks \"Floppy...\")\n"
         "  --connect       press Connect once the window is shown\n"
         "  --no-keyboard / --no-video  leave the service unticked\n"
         "  --no-reconnect  a port lost while connected is not reopened by itself\n"
         "  --no-auto-refresh  a board that was running before Connect (its first request\n"
         "                  is no handshake) is not asked for its screen\n"
         "  --read-only     write-protect the floppy image (writes answer \"write protected\")\n"
         "  --full-keys     the PC BIOS's codes for Alt+letters and digits, Ctrl+arrows,\n"
         "                  Ctrl+Home/End/PgUp/PgDn, Ctrl+PrtSc and Shift+Tab\n"
         "  --terminal      no window: draw the board's screen in this terminal (Ctrl-] then ? for help)\n"
         "  --headless      no window and no terminal screen (with --pty and --log)\n"
         "  --pty LINK      also offer the console on a new pseudo-terminal, LINK a symlink to it\n"
         "  --control PATH  listen for control clients on a Unix socket at PATH (mode 0600):\n"
         "                  JSON lines to read the screen, wait for text, type and take the keyboard\n"
         "  --control-read-only PATH  a second socket whose clients only watch\n"
         "  --control-mode MODE  file mode of the control sockets, e.g. 0660 for a group\n"
         "  --serve [HOST:]PORT  a web console on HOST (127.0.0.1 by default) and PORT:\n"
         "                  prints a link that may type and a link that only watches\n"
         "  --attach PATH   the terminal screen of a console already running, through its\n"
         "                  control socket: a viewer until Ctrl-] w (or --take), Ctrl-] q detaches\n"
         "  --take          with --attach: take the keyboard at once\n"
         "  --log FILE      append the board's text output and the console's messages to FILE\n"
         "  --record FILE.cast  record the board's screen to FILE as asciicast v2 (asciinema play)\n"
         "  --log-timestamps  with --log: each line starts with the local time (milliseconds)\n"
         "  --trace FILE    append a line per event on the wire to FILE (packets decoded,\n"
         "                  acknowledgements, resends, aborts, the link statistics at Disconnect)\n"
         "  --trace-data    with --trace: every data block's 512 bytes as hex as well\n"
         "  --screen-at-exit FILE  write the board's 80x25 screen (character and attribute\n"
         "                  bytes of each cell, row by row) to FILE at exit\n"
         "  --list          list the serial ports this machine has, one a line (a\n"
         "                  /dev/serial/by-id name with the tty it stands for), and exit\n"
         "  --profile NAME  the settings of section [NAME] of the config file (also as the first\n"
         "                  argument: consolew NAME); options given here win over the file's\n"
         "  --config FILE   the config file (default ~/.config/consolew/consolew.conf, then\n"
         "                  /etc/consolew/consolew.conf): INI, keys named as the long options\n"
         "  --print-config  print the settings in effect and where each came from, and exit\n"
         "  --version       show the version\n"
         "  --help          show this text\n"
         "An option's value may also follow an '=' (--image=FILE).\n"
         "Qt's own options (-platform offscreen, -display :1, ...) are passed on.\n";
}

TParseResult ParseOptions(const std::vector<std::string>& args) {
  TParseResult result;
  TOptions& o = result.Options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") return Exit0(Usage());
    if (a == "--version") return Exit0(VersionText() + "\n");

    // "--name=value" for the console's own options; Qt's keep their own form.
    std::string_view name = a;
    std::optional<std::string> inlineValue;
    if (const size_t eq = a.find('='); a.rfind("--", 0) == 0 && eq != std::string::npos) {
      name = std::string_view(a).substr(0, eq);
      inlineValue = a.substr(eq + 1);
    }

    if (const TValueOption* option = Find(kValueOptions, name)) {
      std::string value;
      if (inlineValue) {
        value = *inlineValue;
      } else if (i + 1 < args.size()) {
        value = args[++i];
      }
      if (value.empty()) return Fail(std::string(option->Name) + " needs " + std::string(option->What));
      o.*(option->Field) = value;
    } else if (const TFlagOption* flag = Find(kFlagOptions, name)) {
      if (inlineValue) return Fail(std::string(flag->Name) + " takes no value");
      o.*(flag->Field) = flag->Value;
    } else if (In(kToolkitWithValue, a)) {
      if (i + 1 >= args.size() || args[i + 1].empty()) return Fail(a + " needs a value");
      o.ToolkitArgs.push_back(a);
      o.ToolkitArgs.push_back(args[++i]);
    } else if (In(kToolkitFlags, a)) {
      o.ToolkitArgs.push_back(a);
    } else {
      return Fail("unknown option '" + a + "'");
    }
  }
  if (o.Terminal && o.Headless) return Fail("--terminal and --headless exclude each other");
  if (o.Take && o.AttachPath.empty()) return Fail("--take needs --attach PATH");
  if (!o.AttachPath.empty() && (o.Terminal || o.Headless || !o.PtyLink.empty() || !o.ControlPath.empty() ||
                                !o.ControlReadOnlyPath.empty() || o.Connect)) {
    return Fail("--attach is a seat of a console already running: it takes no front-end or port of its own");
  }
  if (o.TraceData && o.TraceFile.empty()) return Fail("--trace-data needs --trace FILE");
  if (o.LogTimestamps && o.LogFile.empty()) return Fail("--log-timestamps needs --log FILE");
  if (!o.ControlModeText.empty()) {
    // Octal permission bits for the owner and the group only: a control socket
    // open to everyone would give anyone the board's keyboard.
    const std::string& m = o.ControlModeText;
    if (m.size() > 4 || m.find_first_not_of("01234567") != std::string::npos) {
      return Fail("--control-mode needs an octal file mode such as 0660");
    }
    o.ControlMode = static_cast<unsigned>(std::stoul(m, nullptr, 8));
    if ((o.ControlMode & ~0770U) != 0 || (o.ControlMode & 0600U) != 0600U) {
      return Fail("--control-mode: the owner reads and writes, the group may, others may not (0600 to 0660)");
    }
  }
  if (!o.ServeAddress.empty() && !IsServeAddress(o.ServeAddress)) {
    return Fail("--serve needs [HOST:]PORT, e.g. 8080 or 0.0.0.0:8080 (not '" + o.ServeAddress + "')");
  }
  if (o.ControlPath.empty() && o.ControlReadOnlyPath.empty() && !o.ControlModeText.empty()) {
    return Fail("--control-mode needs --control PATH or --control-read-only PATH");
  }
  if (!o.ControlPath.empty() && o.ControlPath == o.ControlReadOnlyPath) {
    return Fail("--control and --control-read-only need two paths");
  }
  return result;
}

}  // namespace app
