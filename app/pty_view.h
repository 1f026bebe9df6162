// The console on a new pseudo-terminal (--pty LINK), for serial terminals
// (tio, picocom, screen) and automation (expect, pexpect, labgrid): the same
// terminal view on the master side, LINK a symlink to the slave. Peers may come
// and go; each new one gets the whole screen drawn afresh.
#pragma once

#include <QSocketNotifier>
#include <QTimer>
#include <memory>
#include <string>

#include "app/session.h"
#include "app/terminal_view.h"

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

  int Master = -1;
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
