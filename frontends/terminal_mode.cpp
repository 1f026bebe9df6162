#include "frontends/terminal_mode.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace app {

namespace {

// What a fatal signal or exit() needs to put the terminal back. One terminal per
// process; Leave() clears it.
struct TSaved {
  bool Active = false;
  int In = -1;
  int Out = -1;
  termios Settings{};
  int InFlags = 0;
  int OutFlags = 0;
  char Restore[64] = {};
  size_t RestoreSize = 0;
};
TSaved Saved;
bool AtExitInstalled = false;

// Only async-signal-safe calls here.
void PutBack() {
  if (!Saved.Active) return;
  Saved.Active = false;
  ::fcntl(Saved.Out, F_SETFL, Saved.OutFlags);
  [[maybe_unused]] const ssize_t n = ::write(Saved.Out, Saved.Restore, Saved.RestoreSize);
  ::tcsetattr(Saved.In, TCSAFLUSH, &Saved.Settings);
  ::fcntl(Saved.In, F_SETFL, Saved.InFlags);
}

void OnFatal(int signo) {
  PutBack();
  ::signal(signo, SIG_DFL);
  ::raise(signo);
}

}  // namespace

bool TTerminalMode::Enter(int in, int out, const std::string& restore) {
  termios t{};
  if (::tcgetattr(in, &t) != 0) return false;
  Saved.In = in;
  Saved.Out = out;
  Saved.Settings = t;
  Saved.InFlags = ::fcntl(in, F_GETFL);
  Saved.OutFlags = ::fcntl(out, F_GETFL);
  Saved.RestoreSize = std::min(restore.size(), sizeof Saved.Restore);
  std::memcpy(Saved.Restore, restore.data(), Saved.RestoreSize);
  Saved.Active = true;
  if (!AtExitInstalled) {
    AtExitInstalled = true;
    std::atexit(PutBack);
    for (int s : {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL}) ::signal(s, OnFatal);
  }
  termios raw = t;
  ::cfmakeraw(&raw);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  ::tcsetattr(in, TCSAFLUSH, &raw);
  ::fcntl(in, F_SETFL, Saved.InFlags | O_NONBLOCK);
  ::fcntl(out, F_SETFL, ::fcntl(out, F_GETFL) | O_NONBLOCK);
  return true;
}

void TTerminalMode::Leave() {
  if (!Saved.Active) return;
  // The caller has written the restoring bytes itself.
  Saved.RestoreSize = 0;
  PutBack();
}

}  // namespace app
