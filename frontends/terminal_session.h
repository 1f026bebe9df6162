// What the terminal view shows and what it hands on: the screen, the words of
// its status line, and the keys and Ctrl-] commands typed. Two seats stand
// behind it: the console's own session (--terminal, --pty) and a console that
// runs elsewhere, reached through its control socket (--attach).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "display/screen.h"
#include "floppy/floppy_image.h"
#include "keyboard/terminal_keys.h"
#include "session/link_stats.h"
#include "session/session.h"

namespace app {

class ITerminalSession {
 public:
  virtual ~ITerminalSession() = default;

  // The view's calls (Refresh every tick, the status, the connection, the
  // keyboard's holder) come through ISessionView.
  virtual void AddView(ISessionView* view) = 0;
  virtual void RemoveView(ISessionView* view) = 0;

  virtual const display::TScreen& Screen() const = 0;
  virtual std::string PortName() const = 0;
  virtual std::string PortDevice() const = 0;
  virtual bool Connected() const = 0;
  virtual bool PortLost() const = 0;
  virtual uint64_t RxCount() const = 0;
  virtual const TLinkCounts& Counts() const = 0;
  virtual floppy::TImageStatus FloppyStatus() const = 0;
  // The shift state as words ("NUML CAPS SHIFT"), empty when nothing is held.
  virtual std::string ShiftWords() const = 0;

  // Keys typed here reach the board (the keyboard is this seat's).
  virtual bool MayType() const = 0;
  // Why not, for the status line ("a control client has the keyboard").
  virtual std::string ViewReason() const = 0;
  // Whether one more typed input can go now; the others wait in the view.
  virtual bool KeyRoom() const = 0;
  // A typed key (its key-down and key-up messages) for the board.
  virtual void SendKeys(const keyboard::TTerminalInput& input) = 0;
  // A key the view had to drop (too many wait): counted as the full queue's are.
  virtual void KeyDropped() = 0;
  // Ctrl-] r, d and f.
  virtual void RequestScreen() = 0;
  virtual void CtrlAltDel() = 0;
  virtual void ChangeImage(const std::string& path) = 0;

  // Ctrl-] w and v: a seat that shares the console takes the keyboard and
  // gives it back. The console's own session has none of this.
  virtual bool Shared() const { return false; }
  virtual void TakeKeyboard() {}
  virtual void ReleaseKeyboard() {}
  // Ctrl-] h: the last `seconds` of the screen as an asciicast v2 text, given
  // to `done` (or the reason there is none). False: this seat keeps no history.
  using THistoryDone = std::function<void(const std::string& cast, const std::string& error)>;
  virtual bool History(int seconds, THistoryDone done) {
    (void)seconds;
    (void)done;
    return false;
  }
};

// The console's own session as the terminal's.
class TLocalTerminalSession : public ITerminalSession {
 public:
  explicit TLocalTerminalSession(TSession& session) : Session(session) {}

  void AddView(ISessionView* view) override { Session.AddView(view); }
  void RemoveView(ISessionView* view) override { Session.RemoveView(view); }
  const display::TScreen& Screen() const override { return Session.Screen; }
  std::string PortName() const override { return Session.PortName(); }
  std::string PortDevice() const override { return Session.PortDevice(); }
  bool Connected() const override { return Session.Connected(); }
  bool PortLost() const override { return Session.PortLost(); }
  uint64_t RxCount() const override { return Session.Link.Rx.RxCount; }
  const TLinkCounts& Counts() const override { return Session.Stats.Counts; }
  floppy::TImageStatus FloppyStatus() const override { return Session.Floppy.Status(); }
  std::string ShiftWords() const override;
  bool MayType() const override { return Session.LocalMayType(); }
  std::string ViewReason() const override { return "a control client has the keyboard"; }
  bool KeyRoom() const override;
  void SendKeys(const keyboard::TTerminalInput& input) override;
  void KeyDropped() override { Session.Keyboard.RefuseKey(); }
  void RequestScreen() override { Session.RequestScreenOnce(); }
  void CtrlAltDel() override { Session.SendCtrlAltDel(); }
  void ChangeImage(const std::string& path) override { Session.ChangeImage(path); }

 private:
  TSession& Session;
};

// Shift-state words without the padding of the window's fixed-width label.
std::string ShiftWordsOf(uint8_t shiftFlags);

}  // namespace app
