#include "frontends/pty_view.h"

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

constexpr int kSettleChecks = 3;   // 300 ms after a peer came
constexpr int kRecheckChecks = 10;  // a close the events did not tell of is found within 1 s
constexpr uint32_t kSlaveEvents = IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE;

std::string Reason(const std::string& what) { return what + ": " + std::strerror(errno); }

}  // namespace

std::unique_ptr<TPtyView> TPtyView::Create(TSession& session, const std::string& link, bool trueColor,
                                           std::string& error) {
  std::unique_ptr<TPtyView> pty(new TPtyView);
  pty->Session = &session;
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
    self->Recheck();
  };
  pty->Terminal->StatusExtra = [self] { return "pty " + self->Slave; };
  // A peer that closes and another that opens at once leave no hang-up to see:
  // every open of the slave is a new peer. Closes tell when a peer went while
  // the view holds the slave (no hang-up then either).
  pty->Opens = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (pty->Opens >= 0 && ::inotify_add_watch(pty->Opens, name, kSlaveEvents) >= 0) {
    pty->OpensNotifier = std::make_unique<QSocketNotifier>(pty->Opens, QSocketNotifier::Read);
    QObject::connect(pty->OpensNotifier.get(), &QSocketNotifier::activated, [self] { self->Recheck(); });
  } else if (pty->Opens >= 0) {
    ::close(pty->Opens);
    pty->Opens = -1;
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
  Release();
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

void TPtyView::PeerLeft() {
  Present = false;
  Terminal->SetReading(false);
  Terminal->Pause();
}

void TPtyView::Hold() {
  if (SlaveHold >= 0 || Opens < 0) return;  // without the events a hold could not be let go in time
  SlaveHold = ::open(Slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (SlaveHold >= 0) ::ioctl(SlaveHold, TIOCEXCL);
}

void TPtyView::Release() {
  if (SlaveHold < 0) return;
  // The flag stays on the slave after its last close: it must go first.
  ::ioctl(SlaveHold, TIOCNXCL);
  ::close(SlaveHold);
  SlaveHold = -1;
}

bool TPtyView::PeerThere() {
  Release();
  pollfd p{Master, POLLIN, 0};
  ::poll(&p, 1, 0);
  return (p.revents & POLLHUP) == 0;
}

TPtyView::TSlaveEvents TPtyView::ReadEvents() {
  TSlaveEvents seen;
  if (Opens < 0) return seen;
  alignas(inotify_event) char events[4096];
  ssize_t n = 0;
  while ((n = ::read(Opens, events, sizeof events)) > 0) {
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
      inotify_event event{};
      std::memcpy(&event, events + at, sizeof event);
      const bool close = (event.mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) != 0;
      seen.ClosedFirst = seen.ClosedFirst || (close && !seen.Opened);
      seen.Opened = seen.Opened || (event.mask & IN_OPEN) != 0;
      at += static_cast<ssize_t>(sizeof event + event.len);
    }
  }
  return seen;
}

void TPtyView::Recheck() {
  ChecksSinceRecheck = 0;
  // What others did since the last look; the view's own close and open
  // below are read and dropped after them.
  const TSlaveEvents seen = ReadEvents();
  if (Present && seen.Opened && !seen.ClosedFirst) {
    // Only root opens past TIOCEXCL.
    Session->Notice("a second program opened " + Slave +
                    " past its lock (as root): the two share the input and each gets part of the picture");
  }
  const bool there = PeerThere();
  if (there) Hold();
  ReadEvents();
  if (!there) {
    if (Present) PeerLeft();
    return;
  }
  if (!Present || seen.Opened) PeerCame();
}

void TPtyView::Check() {
  if (!Present || ++ChecksSinceRecheck >= kRecheckChecks) {
    // A peer that came or went unseen (and, without inotify, the only way).
    pollfd p{Master, POLLIN, 0};
    ::poll(&p, 1, 0);
    if (Present || (p.revents & POLLHUP) == 0) Recheck();
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
