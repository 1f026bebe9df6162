// What one console is told at start: which devices stand behind "COM1" and
// "COM2", a floppy image to preselect, whether to press Connect at start, which
// front-end shows the board, and where else the console is offered and logged.
// Filled by the command line (app/options.h); read by the session and the
// front-ends.
#pragma once

#include <string>
#include <vector>

namespace app {

struct TOptions {
  std::string Com1 = "/dev/ttyS0";
  std::string Com2 = "/dev/ttyS1";
  std::string Image;          // empty: none chosen
  bool Connect = false;       // press Connect once the window is shown
  bool UseCom2 = false;       // select "COM2" at start
  bool NoKeyboard = false;    // leave "Keyboard" unticked
  bool NoVideo = false;       // leave "Video" unticked
  bool NoReconnect = false;   // a lost port is not waited for (Disconnect, then Connect)
  bool NoAutoRefresh = false; // a board found running at Connect is not asked for its screen
  bool ReadOnly = false;      // serve floppy images write-protected
  bool FullKeys = false;      // the PC BIOS's codes for Alt+letters, Ctrl+cursor keys, ...
  bool Terminal = false;      // no window: the board's screen in this terminal
  bool Headless = false;      // no window and no terminal screen
  std::string PtyLink;        // empty: none; else a symlink to a new pseudo-terminal
  std::string ScreenAtExit;   // empty: none; else the screen model's 4000 bytes at exit
  std::string LogFile;        // empty: none; else the board's text and the messages go here
  std::string RecordFile;     // empty: none; else the screen is recorded here (asciicast v2)
  bool LogTimestamps = false; // each line of the log starts with the local time
  std::string TraceFile;      // empty: none; else every event on the wire is appended here
  bool TraceData = false;     // the trace shows every data block's 512 bytes
  std::string ControlPath;          // empty: none; else the control socket (JSON lines)
  std::string ServeAddress;  // empty: no web console; else [HOST:]PORT
  std::string ControlReadOnlyPath;  // empty: none; else a socket whose clients never type
  unsigned ControlMode = 0600;      // file mode of the control sockets
  std::string ControlModeText;      // --control-mode as given (parsed into ControlMode)
  std::string AttachPath;     // empty: none; else the terminal on a running console's socket
  bool Take = false;          // --attach takes the keyboard at once
  bool List = false;          // print the serial ports this machine has and exit
  std::vector<std::string> ToolkitArgs;  // options meant for Qt (-platform ...), passed on
};

}  // namespace app
