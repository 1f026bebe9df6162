#include "app/attach_run.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/terminal_check.h"
#include "display/terminal_writer.h"
#include "frontends/attach_session.h"
#include "frontends/signal_pipe.h"
#include "frontends/terminal_mode.h"
#include "frontends/terminal_view.h"

namespace app {

namespace {

// A pipe has no size: the board's 25 rows and the status line.
constexpr display::TTerminalSize kStreamSize{80, 26};

display::TTerminalSize SizeOf(int fd) {
  winsize ws{};
  if (::ioctl(fd, TIOCGWINSZ, &ws) != 0 || ws.ws_col == 0 || ws.ws_row == 0) return kStreamSize;
  return {ws.ws_col, ws.ws_row};
}

}  // namespace

int RunAttached(const TOptions& options, const char* programName) {
  const bool onTerminal = ::isatty(STDIN_FILENO) != 0 && ::isatty(STDOUT_FILENO) != 0;
  TTerminalView::TConfig config;
  if (onTerminal) {
    const TTerminalCheck check = CheckTerminal([](const char* name) { return std::getenv(name); });
    if (!check.Usable) {
      std::fprintf(stderr, "consolew: --attach: this terminal cannot show the board's screen (%s)\n", check.Why.c_str());
      return 2;
    }
    config.Style = check.Style;
  } else {
    // A program reads the stream: xterm's sequences in UTF-8, drawn in place.
    config.Style.TrueColor = display::TTerminalWriter::TrueColorFromEnv(std::getenv("COLORTERM"));
    config.AlternateScreen = false;
  }

  int argc = 1;
  std::string name = programName;
  char* argv[] = {name.data(), nullptr};
  QCoreApplication application(argc, argv);

  TAttachSession session;
  std::string error;
  if (!session.Open(options.AttachPath, error)) {
    std::fprintf(stderr, "consolew: --attach %s: %s\n", options.AttachPath.c_str(), error.c_str());
    return 1;
  }
  int status = 0;
  std::string goneWhy;
  session.OnGone = [&](const std::string& why) {
    status = 1;
    goneWhy = why;
    QCoreApplication::quit();
  };
  if (options.Take) session.TakeKeyboard();

  TTerminalView view(session, config);
  TTerminalMode mode;
  if (onTerminal) {
    display::TTerminalWriter restore(config.Style);
    mode.Enter(STDIN_FILENO, STDOUT_FILENO, restore.End());
  } else {
    // Output never blocks the loop (the view keeps what a slow reader has not taken).
    ::fcntl(STDOUT_FILENO, F_SETFL, ::fcntl(STDOUT_FILENO, F_GETFL) | O_NONBLOCK);
  }
  view.SetSize(SizeOf(STDOUT_FILENO));
  view.OnQuit = [] { QCoreApplication::quit(); };
  view.OnInputEnded = [] { QCoreApplication::quit(); };
  view.Start();

  TSignalPipe signalPipe({SIGINT, SIGTERM, SIGHUP, SIGWINCH}, [&](int signo) {
    if (signo == SIGWINCH) {
      view.SetSize(SizeOf(STDOUT_FILENO));
      return;
    }
    QCoreApplication::quit();
  });
  ::signal(SIGPIPE, SIG_IGN);

  QCoreApplication::exec();
  view.Stop();
  mode.Leave();
  if (status == 1) {
    std::fprintf(stderr, "consolew: the console at %s has gone (%s)\n", options.AttachPath.c_str(), goneWhy.c_str());
  }
  return status;
}

}  // namespace app
