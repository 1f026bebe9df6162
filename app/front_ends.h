// How the program is put together from the session and its front-ends: the
// window, the invoking terminal (--terminal), nothing (--headless), and beside
// any of them a pty (--pty) and a log file (--log).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/options.h"
#include "frontends/cast_recorder.h"
#include "frontends/console_log.h"
#include "frontends/control_hub.h"
#include "frontends/control_socket.h"
#include "frontends/pty_view.h"
#include "frontends/web_console.h"
#include "session/session.h"

namespace app {

// The pty, the log, the trace and the control sockets, attached to a session
// for the whole run.
class TExtraFrontEnds {
 public:
  // False (with `error`) when the trace, the pty or the log cannot be set up.
  bool Attach(TSession& session, const TOptions& options, std::string& error);
  ~TExtraFrontEnds();

  TPtyView* Pty() { return PtyView.get(); }
  // The control hub, when a control socket was asked for.
  TControlHub* Hub() { return ControlHub.get(); }
  // The log's unfinished line and the screen for --screen-at-exit.
  void Finish();

 private:
  void AddHistoryCommand(TControlHub& hub);

  TSession* Session = nullptr;
  std::string ScreenAtExit;
  std::unique_ptr<TPtyView> PtyView;
  std::unique_ptr<TConsoleLog> Log;
  // The screen's last minutes (always) and its recorder (also to --record FILE).
  TScreenHistory History;
  std::unique_ptr<TCastRecorder> Recorder;
  std::unique_ptr<TControlHub> ControlHub;
  std::vector<std::unique_ptr<TControlSocket>> ControlSockets;
  std::unique_ptr<TWebConsole> Web;
  bool LogErrorShown = false;
};

// What the user chose, as the window's controls would show it at start.
TConnectChoice ChoiceFromOptions(const TOptions& options);

// --terminal and --headless: no window and no display. Connects at start; the
// exit status is 0 after a quit or a signal, 1 when the port cannot be opened
// (the reason on standard error), 2 when --terminal has no terminal.
int RunWithoutWindow(const TOptions& options, const char* programName);

}  // namespace app
