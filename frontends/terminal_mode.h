// The invoking terminal in raw mode for --terminal, put back as it was on every
// way out: a normal exit, exit(), a fatal signal (the bytes that leave the
// alternate screen are written there too).
#pragma once

#include <termios.h>

#include <string>

namespace app {

class TTerminalMode {
 public:
  TTerminalMode() = default;
  ~TTerminalMode() { Leave(); }
  TTerminalMode(const TTerminalMode&) = delete;
  TTerminalMode& operator=(const TTerminalMode&) = delete;

  // Raw input without echo on `in`, non-blocking `in` and `out`. `restore` is
  // written to `out` when the program dies without leaving properly.
  // False (nothing changed) when `in` is not a terminal.
  bool Enter(int in, int out, const std::string& restore);
  // Original settings back; safe to call twice.
  void Leave();
};

}  // namespace app
