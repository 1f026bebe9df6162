#include "app/options.h"

#include <array>
#include <string_view>

namespace app {
namespace {

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

TParseResult Fail(const std::string& why) {
  TParseResult r;
  r.ExitCode = 2;
  r.Message = "consolew: " + why + "\n" + Usage();
  return r;
}

}  // namespace

std::string Usage() {
  return "Usage: consolew [options]\n"
         "Remote console for an embedded x86 board on a serial line (115200 8N1).\n"
         "\n"
         "  --com1 DEVICE   device behind \"COM1\" (default /dev/ttyS0), e.g. /dev/ttyUSB0\n"
         "  --com2 DEVICE   device behind \"COM2\" (default /dev/ttyS1)\n"
         "  --port1, --port2  select COM1 or COM2 at start (default COM1)\n"
         "  --image FILE    serve this floppy image (ticks \"Floppy...\")\n"
         "  --connect       press Connect once the window is shown\n"
         "  --help          show this text\n"
         "Qt's own options (-platform offscreen, -display :1, ...) are passed on.\n";
}

TParseResult ParseOptions(const std::vector<std::string>& args) {
  TParseResult result;
  TOptions& o = result.Options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size() || args[i + 1].empty()) return false;
      out = args[++i];
      return true;
    };
    if (a == "--help" || a == "-h") {
      result.ExitCode = 0;
      result.Message = Usage();
      return result;
    }
    if (a == "--com1") {
      if (!value(o.Com1)) return Fail("--com1 needs a device path");
    } else if (a == "--com2") {
      if (!value(o.Com2)) return Fail("--com2 needs a device path");
    } else if (a == "--image") {
      if (!value(o.Image)) return Fail("--image needs a file name");
    } else if (a == "--connect") {
      o.Connect = true;
    } else if (a == "--port1") {
      o.UseCom2 = false;
    } else if (a == "--port2") {
      o.UseCom2 = true;
    } else if (In(kToolkitWithValue, a)) {
      o.ToolkitArgs.push_back(a);
      std::string v;
      if (!value(v)) return Fail(a + " needs a value");
      o.ToolkitArgs.push_back(v);
    } else if (In(kToolkitFlags, a)) {
      o.ToolkitArgs.push_back(a);
    } else {
      return Fail("unknown option '" + a + "'");
    }
  }
  return result;
}

}  // namespace app
