#include "app/front_ends.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/terminal_check.h"
#include "display/terminal_writer.h"
#include "frontends/signal_pipe.h"
#include "frontends/terminal_mode.h"
#include "frontends/terminal_view.h"

namespace app {

namespace {

bool TrueColor() { return display::TTerminalWriter::TrueColorFromEnv(std::getenv("COLORTERM")); }

display::TTerminalSize SizeOf(int fd) {
  winsize ws{};
  if (::ioctl(fd, TIOCGWINSZ, &ws) != 0) return {};
  return {ws.ws_col, ws.ws_row};
}

// Remembers why Connect failed, for the message on standard error.
class TFailureView : public ISessionView {
 public:
  void Failure(const std::string& text, const std::string& detail) override {
    Message = text + (detail.empty() ? "" : ": " + detail);
  }
  std::string Message;
};

}  // namespace

TConnectChoice ChoiceFromOptions(const TOptions& options) {
  TConnectChoice c;
  c.Keyboard = !options.NoKeyboard;
  c.Video = !options.NoVideo;
  c.Floppy = !options.Image.empty();
  c.ImageFile = options.Image;
  c.UseCom2 = options.UseCom2;
  return c;
}

bool TExtraFrontEnds::Attach(TSession& session, const TOptions& options, std::string& error) {
  Session = &session;
  ScreenAtExit = options.ScreenAtExit;
  if (!options.TraceFile.empty() && !session.OpenTrace(options.TraceFile, options.TraceData, error)) {
    error = "--trace " + error;
    return false;
  }
  if (!options.LogFile.empty()) {
    Log = std::make_unique<TConsoleLog>();
    if (!Log->Open(options.LogFile, error)) {
      error = "--log " + error;
      Log.reset();
      return false;
    }
    Log->Timestamps = options.LogTimestamps;
    session.Screen.OnText = [this](std::string_view text, int32_t row, int32_t endRow) {
      Log->Text(text, row, endRow);
      if (!Log->WriteError().empty() && !LogErrorShown) {
        LogErrorShown = true;
        Session->Notice("the log cannot be written (" + Log->WriteError() + "); logging stops");
      }
    };
  }
  Recorder = std::make_unique<TCastRecorder>(session, History);
  if (!options.RecordFile.empty() && !Recorder->OpenFile(options.RecordFile, error)) {
    error = "--record " + error;
    return false;
  }
  if (!options.PtyLink.empty()) {
    PtyView = TPtyView::Create(session, options.PtyLink, TrueColor(), error);
    if (!PtyView) {
      error = "--pty " + error;
      return false;
    }
    std::fprintf(stderr, "consolew: the console is on %s (%s)\n", PtyView->SlavePath().c_str(),
                 options.PtyLink.c_str());
  }
  // The window, the terminal and the pty type by default; --headless alone has no typist.
  session.SetLocalWriter(!options.Headless || !options.PtyLink.empty());
  struct TSocketWanted {
    const std::string& Path;
    bool ReadOnly;
    const char* Option;
  };
  for (const TSocketWanted& wanted : {TSocketWanted{options.ControlPath, false, "--control"},
                                      TSocketWanted{options.ControlReadOnlyPath, true, "--control-read-only"}}) {
    if (wanted.Path.empty()) continue;
    if (!ControlHub) ControlHub = std::make_unique<TControlHub>(session);
    auto socket = std::make_unique<TControlSocket>(*ControlHub, wanted.ReadOnly);
    if (!socket->Listen(wanted.Path, options.ControlMode, error)) {
      error = std::string(wanted.Option) + " " + wanted.Path + ": " + error;
      return false;
    }
    ControlSockets.push_back(std::move(socket));
  }
  if (!options.ServeAddress.empty()) {
    if (!ControlHub) ControlHub = std::make_unique<TControlHub>(session);
    Web = std::make_unique<TWebConsole>(*ControlHub, session.Screen, std::getenv("CONSOLEW_TOKEN"),
                                        std::getenv("CONSOLEW_VIEW_TOKEN"));
    if (!Web->Listen(options.ServeAddress, error)) {
      error = "--serve " + options.ServeAddress + ": " + error;
      return false;
    }
    std::fprintf(stderr, "consolew: web console (keyboard) %s\n", Web->Link(true).c_str());
    std::fprintf(stderr, "consolew: web console (view only) %s\n", Web->Link(false).c_str());
  }
  if (ControlHub) AddHistoryCommand(*ControlHub);
  return true;
}

void TExtraFrontEnds::AddHistoryCommand(TControlHub& hub) {
  // {"cmd":"history","seconds":600}: the last minutes of the screen as an asciicast v2 text.
  hub.AddCommand("history", [this](TControlClient&, const QJsonObject& request, auto answer) {
    const QJsonValue seconds = request.value(QLatin1String("seconds"));
    if (!seconds.isUndefined() && (!seconds.isDouble() || seconds.toDouble() <= 0 ||
                                   seconds.toDouble() > TScreenHistory::kKeepMs / 1000.0)) {
      answer(TControlHub::Error("seconds must be a number from 0 to 1800"));
      return;
    }
    Recorder->CatchUp();
    const TScreenHistory::TCast cast = History.Cast(Recorder->NowMs(), Recorder->UnixNow(),
                                                    seconds.isUndefined() ? 600 : seconds.toDouble(),
                                                    Recorder->Title());
    answer(QJsonObject{{"ok", true},
                       {"seconds", cast.Seconds},
                       {"cast", QString::fromStdString(cast.Text)}});
  });
}

void TExtraFrontEnds::Finish() {
  if (Recorder) Recorder->Finish();
  if (Log) Log->Finish();
  if (Session == nullptr || ScreenAtExit.empty()) return;
  const size_t shown = sizeof(display::TScreenCell) * display::TScreen::kCols * display::TScreen::kRows;
  std::FILE* f = std::fopen(ScreenAtExit.c_str(), "wb");
  if (f == nullptr || std::fwrite(Session->Screen.Bytes(), 1, shown, f) != shown) {
    std::fprintf(stderr, "consolew: --screen-at-exit %s: cannot be written\n", ScreenAtExit.c_str());
  }
  if (f != nullptr) std::fclose(f);
  ScreenAtExit.clear();
}

TExtraFrontEnds::~TExtraFrontEnds() {
  Finish();
  ControlSockets.clear();
  Web.reset();
  ControlHub.reset();
  Recorder.reset();
  if (Session != nullptr && Log) Session->Screen.OnText = nullptr;
  PtyView.reset();
}

int RunWithoutWindow(const TOptions& options, const char* programName) {
  if (options.Terminal && (::isatty(STDIN_FILENO) == 0 || ::isatty(STDOUT_FILENO) == 0)) {
    std::fputs("consolew: --terminal needs a terminal on its standard input and output\n", stderr);
    return 2;
  }
  const TTerminalCheck terminalCheck = CheckTerminal([](const char* name) { return std::getenv(name); });
  if (options.Terminal && !terminalCheck.Usable) {
    std::fprintf(stderr, "consolew: --terminal: this terminal cannot show the board's screen (%s)\n",
                 terminalCheck.Why.c_str());
    return 2;
  }
  int argc = 1;
  std::string name = programName;
  char* argv[] = {name.data(), nullptr};
  QCoreApplication application(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("Remote Nerova"));

  // With --terminal on the same terminal, standard error would write into the
  // board's screen: the image messages and the lines about the port, the trace
  // and the log wait until the terminal is put back. The status line shows the
  // image meanwhile, and each of the other lines for a while.
  std::vector<std::string> heldMessages;
  std::unique_ptr<TTerminalView> terminal;
  TSession session(options);
  if (options.Terminal) {
    const bool held = ::isatty(STDERR_FILENO) != 0;
    if (held) {
      session.ImageMessageOut = [&heldMessages](const std::string& line) { heldMessages.push_back(line); };
    }
    session.NoticeOut = [&heldMessages, &terminal, held](const std::string& line) {
      if (held) {
        heldMessages.push_back(line);
      } else {
        std::fprintf(stderr, "consolew: %s\n", line.c_str());
      }
      if (terminal) terminal->ShowNotice(line);
    };
  }
  // An image that cannot be opened ends the start, as a port or a trace file
  // does: with nobody at a window, a console serving no diskette would go unnoticed.
  if (!options.Image.empty()) {
    floppy::TImageFile probe;
    if (probe.Open(options.Image, options.ReadOnly) == floppy::TOpenOutcome::ooFailed) {
      std::fprintf(stderr, "consolew: --image %s: %s\n", options.Image.c_str(),
                   floppy::ImageErrorText(probe.LastError).c_str());
      return 1;
    }
  }
  TFailureView failure;
  session.AddView(&failure);
  TExtraFrontEnds extras;
  std::string error;
  if (!extras.Attach(session, options, error)) {
    std::fprintf(stderr, "consolew: %s\n", error.c_str());
    session.RemoveView(&failure);
    return 1;
  }

  int status = 0;
  bool quitting = false;
  // Every way out: Disconnect, then the loop unwinds out of Connect, which ends the program.
  const auto quit = [&](int code) {
    if (quitting) return;
    quitting = true;
    status = code;
    if (session.Connected()) {
      session.Disconnect();
    } else if (!session.Running()) {
      QCoreApplication::quit();
    }
  };

  TTerminalMode mode;
  if (options.Terminal) {
    TTerminalView::TConfig config;
    config.Style = terminalCheck.Style;
    terminal = std::make_unique<TTerminalView>(session, config);
    display::TTerminalWriter restore(config.Style);
    mode.Enter(STDIN_FILENO, STDOUT_FILENO, restore.End());
    terminal->SetSize(SizeOf(STDOUT_FILENO));
    terminal->OnQuit = [&] { quit(0); };
    terminal->OnInputEnded = [&] { quit(0); };
    terminal->Start();
  }
  if (extras.Pty() != nullptr) extras.Pty()->OnQuit = [&] { quit(0); };

  TSignalPipe signalPipe({SIGINT, SIGTERM, SIGHUP, SIGWINCH}, [&](int signo) {
    if (signo == SIGWINCH) {
      if (terminal) terminal->SetSize(SizeOf(STDOUT_FILENO));
      return;
    }
    quit(0);
  });
  // Writes to a terminal or pty that went away must not end the program.
  ::signal(SIGPIPE, SIG_IGN);

  // With a control socket the console stays when a client disconnects, for a
  // client's connect; every other end of the loop ends the program.
  const bool stays = extras.Hub() != nullptr;
  const auto connect = [&] {
    if (!quitting) session.Connect(ChoiceFromOptions(options));
    if (!failure.Message.empty() && !quitting) status = 1;
    if (quitting || status != 0 || !stays) QCoreApplication::quit();
  };
  if (extras.Hub() != nullptr) {
    extras.Hub()->OnConnect = [&] {
      failure.Message.clear();
      session.Connect(ChoiceFromOptions(options));
      if (quitting) QCoreApplication::quit();
    };
  }
  QTimer::singleShot(0, connect);
  QCoreApplication::exec();

  if (terminal) terminal->Stop();
  // The view leaves the session's views before the session goes (it was made after it).
  terminal.reset();
  mode.Leave();
  for (const std::string& line : heldMessages) std::fprintf(stderr, "consolew: %s\n", line.c_str());
  heldMessages.clear();
  extras.Finish();
  session.RemoveView(&failure);
  if (status == 1 && !failure.Message.empty()) std::fprintf(stderr, "consolew: %s\n", failure.Message.c_str());
  return status;
}

}  // namespace app
