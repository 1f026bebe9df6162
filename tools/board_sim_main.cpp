// board-sim: the simulated board, on a device or with the console as its child.
#include <unistd.h>

#include <iostream>
#include <memory>

#include "tools/board_app.h"
#include "tools/board_options.h"
#include "tools/console_child.h"
#include "tools/pty_line.h"
#include "tools/stop_signal.h"

using namespace boardsim;

int main(int argc, char** argv) {
  std::string error;
  const auto options = ParseBoardOptions(std::vector<std::string>(argv + 1, argv + argc), error);
  if (!options) {
    std::cerr << "board-sim: " << error << "\n" << BoardUsage();
    return 2;
  }
  if (options->Help) {
    std::cout << BoardUsage();
    return 0;
  }

  // Before the console starts: a stop must never leave it running.
  InstallStopSignals();
  std::unique_ptr<TConsoleChild> child;
  std::unique_ptr<TPtyLine> ptyLine;
  int fd = -1;
  if (!options->Device.empty()) {
    fd = OpenBoardDevice(options->Device, options->BitsPerSecond, error);
  } else if (!options->PtyLink.empty()) {
    ptyLine = TPtyLine::Create(options->PtyLink, error);
    if (ptyLine) fd = ptyLine->MasterFd();
  } else {
    const std::string console =
        options->Console.empty() ? DefaultConsolePath() : options->Console;
    child = TConsoleChild::Start(console, options->Image, options->ConsoleArgs, error);
    if (child) fd = child->MasterFd();
  }
  if (fd < 0) {
    std::cerr << "board-sim: " << error << "\n";
    return 1;
  }

  TSystemClock clock;
  TPacer pacer(clock, options->BitsPerSecond);
  TFaultInjector faults(options->Faults);
  TLinkConfig linkConfig;
  linkConfig.AckTimeout = std::chrono::milliseconds(options->AckTimeoutMs);
  linkConfig.HostMayLeave = ptyLine != nullptr;
  TBoardLink link(fd, clock, pacer, faults, linkConfig);
  // A host that opens the line later reads only what the board writes from then on.
  if (ptyLine) link.SetHostListening([&ptyLine] { return ptyLine->HostListening(); });
  if (ptyLine && options->ReplugAfter > 0) {
    link.SetBeforeRequest([&](uint64_t sent) {
      if (sent != options->ReplugAfter) return;
      std::string why;
      if (!ptyLine->Replug(why)) {
        std::cerr << "board-sim: replug: " << why << "\n";
        return;
      }
      link.SetFd(ptyLine->MasterFd());
      const auto took = ptyLine->WaitForHost(std::chrono::seconds(10));
      link.NoteReplug(took ? took->count() : -1);
    });
  }
  if (child) link.SetHostAlive([&child] { return child->Alive(); });
  link.SetStopRequested([] { return StopSignal() != 0; });

  TAppConfig appConfig;
  if (options->TimeoutSeconds)
    appConfig.Timeout = std::chrono::milliseconds(
        static_cast<long long>(*options->TimeoutSeconds * 1000.0));
  TBoardApp app(link, clock, std::cout, std::cerr, appConfig);

  int status = 1;
  try {
    switch (options->Script) {
      case TScriptKind::Demo: status = app.RunDemo(); break;
      case TScriptKind::ReadImage: status = app.ReadImage(options->ScriptPath); break;
      case TScriptKind::WriteImage: status = app.WriteImage(options->ScriptPath); break;
      case TScriptKind::Ping: status = app.Ping(options->ScriptCount); break;
      case TScriptKind::Keys: status = app.Keys(options->ScriptCount); break;
    }
  } catch (const TStopRequested&) {
    status = 1;
  } catch (const std::exception& e) {
    std::cerr << "board-sim: " << e.what() << "\n";
    status = 1;
  }
  std::cout.flush();
  if (options->Device.empty() == false) ::close(fd);
  ptyLine.reset();
  // A console that ended on its own with a failure (no display, a crash)
  // fails the run, also the demo, which otherwise ends well when it goes.
  if (child && !child->Alive() && child->ExitStatus() != 0) {
    std::cerr << "board-sim: the console exited with status " << child->ExitStatus() << "\n";
    status = 1;
  }
  if (const int signal = StopSignal(); signal != 0) {
    child.reset();  // ends the console and waits for it
    EndBySignal(signal);
  }
  return status;
}
