// Program start: options, the application object titled "Remote Nerova", the
// main window, and the message loop.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/attach_run.h"
#include "app/consolew.h"
#include "app/display_check.h"
#include "app/front_ends.h"
#include "app/options.h"
#include "app/profile.h"
#include "comm/port_list.h"

namespace {

bool HasDisplay(const app::TOptions& options) {
  for (size_t i = 0; i < options.ToolkitArgs.size(); ++i) {
    if (options.ToolkitArgs[i] == "-platform") return true;
  }
  for (const char* var : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* v = std::getenv(var);
    if (v != nullptr && *v != '\0') return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const app::TParseResult parsed = app::ParseCommandLine(args, app::DefaultConfigPlaces());
  if (parsed.ExitCode >= 0) {
    std::fputs(parsed.Message.c_str(), parsed.ExitCode == 0 ? stdout : stderr);
    return parsed.ExitCode;
  }
  if (parsed.Options.List) {
    // The ports the chooser offers, one a line, as `tio -l` prints them.
    for (const comm::TPortEntry& port : comm::ListSerialPorts()) std::printf("%s\n", comm::PortListLine(port).c_str());
    return 0;
  }
  if (!parsed.Options.AttachPath.empty()) return app::RunAttached(parsed.Options, argv[0]);
  if (parsed.Options.Terminal || parsed.Options.Headless) return app::RunWithoutWindow(parsed.Options, argv[0]);
  if (!HasDisplay(parsed.Options)) {
    std::fputs("consolew: no display found (DISPLAY and WAYLAND_DISPLAY are unset); "
               "start it from a desktop session, use --terminal, or -platform offscreen\n",
               stderr);
    return 1;
  }
  // Qt's xcb platform aborts the program when it cannot connect: say why instead.
  if (const auto unreachable = app::UnreachableDisplay(
          parsed.Options.ToolkitArgs, [](const char* name) { return std::getenv(name); })) {
    std::fputs(unreachable->c_str(), stderr);
    return 1;
  }

  // Qt sees the program name and its own options only.
  std::vector<std::string> qtArgs{argv[0]};
  qtArgs.insert(qtArgs.end(), parsed.Options.ToolkitArgs.begin(), parsed.Options.ToolkitArgs.end());
  std::vector<char*> qtArgv;
  for (auto& a : qtArgs) qtArgv.push_back(a.data());
  qtArgv.push_back(nullptr);
  int qtArgc = static_cast<int>(qtArgs.size());

  QApplication application(qtArgc, qtArgv.data());
  QApplication::setApplicationName(QStringLiteral("Remote Nerova"));
  try {
    app::TSession session(parsed.Options);
    app::TConDos window(session, parsed.Options);
    app::TExtraFrontEnds extras;
    std::string error;
    if (!extras.Attach(session, parsed.Options, error)) {
      std::fprintf(stderr, "consolew: %s\n", error.c_str());
      return 1;
    }
    if (extras.Pty() != nullptr) extras.Pty()->OnQuit = [&window] { window.close(); };
    if (extras.Hub() != nullptr) extras.Hub()->OnConnect = [&window] { window.OpenComClick(); };
    window.show();
    QApplication::exec();
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, QStringLiteral("Remote Nerova"), QString::fromLocal8Bit(e.what()));
  }
  return 0;
}
