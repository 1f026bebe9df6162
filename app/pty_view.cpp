#include "app/pty_view.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace app {

namespace {

constexpr int kSettleChecks = 3;  // 300 ms after a peer came

std::string Reason(const std::string& what) { return what + ": " + std::strerror(errno); }

}  // namespace

std::unique_ptr<TPtyView> TPtyView::Create(TSession& session, const std::string& link, bool trueColor,
                                           std::string& error) {
  std::unique_ptr<TPtyView> pty(new TPtyView);
  pty->Master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (pty->Master < 0 || ::grantpt(pty->Master) != 0 || ::unlockpt(pty->Master) != 0) {
    error = Reason("cannot create a pseudo-terminal");
    return nullptr;
  }
  const char* name = ::ptsname(pty->Master);
  if (name == nullptr) {
    error = Reason("cannot name the pseudo-terminal");
    return nullptr;
  }
  pty->Slave = name;
  // Raw, no echo: the peer's bytes reach the key decoder as typed.
  termios t{};
  if (::tcgetattr(pty->Master, &t) == 0) {
    ::cfmakeraw(&t);
    ::tcsetattr(pty->Master, TCSANOW, &t);
  }
  // Opened and closed once, so that the master sees a hang-up until a peer comes.
  const int once = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (once >= 0) ::close(once);

  struct stat st {};
  if (::lstat(link.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      error = link + ": exists and is not a symlink (not replaced)";
      return nullptr;
    }
    ::unlink(link.c_str());
  }
  if (::symlink(name, link.c_str()) != 0) {
    error = Reason(link);
    return nullptr;
  }
  pty->Link = link;

  TTerminalView::TConfig config;
  config.InFd = pty->Master;
  config.OutFd = pty->Master;
  config.Style.TrueColor = trueColor;  // a pty peer: UTF-8, xterm-like
  config.AlternateScreen = false;
  pty->Terminal = std::make_unique<TTerminalView>(session, config);
  TPtyView* self = pty.get();
  pty->Terminal->SetReading(false);
  pty->Terminal->OnQuit = [self] {
    if (self->OnQuit) self->OnQuit();
  };
  pty->Terminal->OnInputEnded = [self] {
    // The peer closed its end; the pty stays for the next one.
    self->Present = false;
    self->Terminal->Pause();
  };
  pty->Terminal->StatusExtra = [self] { return "pty " + self->Slave; };
  // A peer that closes and another that opens at once leave no hang-up to see:
  // every open of the slave is a new peer.
  pty->Opens = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (pty->Opens >= 0 && ::inotify_add_watch(pty->Opens, name, IN_OPEN) >= 0) {
    pty->OpensNotifier = std::make_unique<QSocketNotifier>(pty->Opens, QSocketNotifier::Read);
    QObject::connect(pty->OpensNotifier.get(), &QSocketNotifier::activated, [self] {
      alignas(inotify_event) char events[4096];
      bool opened = false;
      while (::read(self->Opens, events, sizeof events) > 0) opened = true;
      if (opened) self->PeerCame();
    });
  }
  pty->Watch.setInterval(100);
  QObject::connect(&pty->Watch, &QTimer::timeout, [self] { self->Check(); });
  pty->Watch.start();
  pty->Check();
  return pty;
}

TPtyView::~TPtyView() {
  Watch.stop();
  Terminal.reset();
  if (!Link.empty()) {
    char target[4096];
    const ssize_t n = ::readlink(Link.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string(target, static_cast<size_t>(n)) == Slave) ::unlink(Link.c_str());
  }
  OpensNotifier.reset();
  if (Opens >= 0) ::close(Opens);
  if (Master >= 0) ::close(Master);
}

void TPtyView::PeerCame() {
  Present = true;
  Terminal->Start();
  Terminal->SetReading(true);
  Terminal->Redraw();
  Terminal->RedrawOnNextInput();
  SettleChecks = kSettleChecks;
}

void TPtyView::Check() {
  pollfd p{Master, POLLIN, 0};
  ::poll(&p, 1, 0);
  const bool present = (p.revents & POLLHUP) == 0;
  if (present && !Present) {
    PeerCame();
  } else if (!present && Present) {
    Present = false;
    Terminal->SetReading(false);
    Terminal->Pause();
  }
  if (!Present) return;
  // Serial libraries flush what is waiting when they open the port (pyserial
  // does): the screen is drawn again once the peer has settled.
  if (SettleChecks > 0 && --SettleChecks == 0) Terminal->Redraw();
  winsize ws{};
  if (::ioctl(Master, TIOCGWINSZ, &ws) == 0) {
    const display::TTerminalSize size{ws.ws_col, ws.ws_row};
    if (size.Cols != Size.Cols || size.Rows != Size.Rows) {
      Size = size;
      Terminal->SetSize(size);
    }
  }
}

}  // namespace app
