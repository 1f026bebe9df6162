// The command line of the Linux console (the original had none): which devices
// stand behind "COM1" and "COM2", a floppy image to preselect, whether to press
// Connect at start, which front-end shows the board (window, terminal, none),
// and where else the console is offered and logged.
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
  bool ReadOnly = false;      // serve floppy images write-protected
  bool FullKeys = false;      // the PC BIOS's codes for Alt+letters, Ctrl+cursor keys, ...
  bool Terminal = false;      // no window: the board's screen in this terminal
  bool Headless = false;      // no window and no terminal screen
  std::string PtyLink;        // empty: none; else a symlink to a new pseudo-terminal
  std::string ScreenAtExit;   // empty: none; else the screen model's 4000 bytes at exit
  std::string LogFile;        // empty: none; else the board's text and the messages go here
  std::string TraceFile;      // empty: none; else every event on the wire is appended here
  bool TraceData = false;     // the trace shows every data block's 512 bytes
  bool List = false;          // print the serial ports this machine has and exit
  std::vector<std::string> ToolkitArgs;  // options meant for Qt (-platform ...), passed on
};

struct TParseResult {
  TOptions Options;
  // -1: go on and start; otherwise exit at once with this status after printing Message.
  int ExitCode = -1;
  std::string Message;
};

// Parses the arguments after the program name. An option with a value takes
// it as the next argument or after '=' ("--image FILE", "--image=FILE").
TParseResult ParseOptions(const std::vector<std::string>& args);
std::string Usage();
// "consolew 1.01": the program and its version.
std::string VersionText();

}  // namespace app
