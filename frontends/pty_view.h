// The console on a new pseudo-terminal (--pty LINK), for serial terminals
// (tio, picocom, screen) and automation (expect, pexpect, labgrid): the same
// terminal view on the master side, LINK a symlink to the slave. Peers may come
// and go; each new one gets the whole screen drawn afresh. One at a time: while
// a peer has the slave open, the view holds it too with TIOCEXCL set, so that
// a second opener gets EBUSY instead of half of the picture (the kernel lets
// root through; that is said on the session's notice line).
#pragma once

#include <QSocketNotifier>
#include <QTimer>
#include <memory>
#include <string>

#include "frontends/terminal_view.h"
#include "session/session.h"

namespace app {

class TPtyView {
 public:
  // Creates the pty and the link; nothing when that fails (`error` says why).
  static std::unique_ptr<TPtyView> Create(TSession& session, const std::string& link, bool trueColor,
                                          std::string& error);
  ~TPtyView();
  TPtyView(const TPtyView&) = delete;
  TPtyView& operator=(const TPtyView&) = delete;

  const std::string& SlavePath() const { return Slave; }
  bool PeerPresent() const { return Present; }
  TTerminalView& View() { return *Terminal; }
  // Looks for a peer that came or went and for a new window size (every 100 ms).
  void Check();

  // Ctrl-] q from the pty's peer.
  std::function<void()> OnQuit;

 private:
  TPtyView() = default;
  void PeerCame();
  void PeerLeft();
  // Whether a peer has the slave open: the view lets go of its own hold, and
  // the master sees a hang-up when nobody else has it.
  bool PeerThere();
  // The view's own hold on the slave, with TIOCEXCL, while a peer has it.
  void Hold();
  void Release();
  // Opens and closes of the slave since the last look (inotify).
  struct TSlaveEvents {
    bool Opened = false;
    bool ClosedFirst = false;  // a close before the first open: one peer took another's place
  };
  TSlaveEvents ReadEvents();
  // Whether a peer came, went or was joined by a second one; the view's hold
  // follows. On every open or close of the slave, and now and then.
  void Recheck();

  TSession* Session = nullptr;
  int Master = -1;
  int SlaveHold = -1;
  int ChecksSinceRecheck = 0;
  std::string Slave;
  std::string Link;
  bool Present = false;
  int SettleChecks = 0;
  display::TTerminalSize Size{};
  std::unique_ptr<TTerminalView> Terminal;
  QTimer Watch;
  int Opens = -1;  // inotify: opens of the slave
  std::unique_ptr<QSocketNotifier> OpensNotifier;
};

}  // namespace app
