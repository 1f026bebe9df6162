// A console that runs elsewhere (a --headless one started by a service, a
// colleague's), reached through its control socket, as the terminal view's
// session (--attach PATH). The screen is a local copy of the console's cells,
// kept by its screen events; the status line's words come from its status
// events; typed keys go to it as key events, a bounded number in flight, the
// others waiting in the view. The seat starts as a viewer: Ctrl-] w takes the
// keyboard, Ctrl-] v gives it back.
//
// What the console sends is checked as any peer's input: a line is bounded,
// a screen row must be exactly 80 cells, and nothing else is taken.
#pragma once

#include <QJsonObject>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "frontends/terminal_session.h"

namespace app {

class TAttachSession : public ITerminalSession {
 public:
  // The longest line taken from the console (a whole screen is about 12 KiB).
  static constexpr size_t kMaxLine = 1 << 20;
  // Key commands sent and not answered yet; the next keys wait in the view.
  static constexpr size_t kMaxKeysInFlight = 32;

  TAttachSession();
  ~TAttachSession() override;
  TAttachSession(const TAttachSession&) = delete;
  TAttachSession& operator=(const TAttachSession&) = delete;

  // Connects to the socket at `path` and subscribes; false with the reason.
  bool Open(const std::string& path, std::string& error);
  // The console has gone (or ended this connection): why, once.
  std::function<void(const std::string&)> OnGone;

  // One line from the console, as if read from the socket (tests feed their own).
  void Received(std::string_view line);
  // What is sent goes here instead of the socket when set (tests).
  std::function<void(const std::string&)> SendHook;

  // ITerminalSession
  void AddView(ISessionView* view) override;
  void RemoveView(ISessionView* view) override;
  const display::TScreen& Screen() const override { return Copy; }
  std::string PortName() const override { return Port; }
  std::string PortDevice() const override { return Device; }
  bool Connected() const override { return IsConnected; }
  bool PortLost() const override { return Lost; }
  uint64_t RxCount() const override { return Bytes; }
  const TLinkCounts& Counts() const override { return Stats; }
  floppy::TImageStatus FloppyStatus() const override { return Floppy; }
  std::string ShiftWords() const override { return Shift; }
  bool MayType() const override { return Writer; }
  std::string ViewReason() const override;
  bool KeyRoom() const override { return KeysInFlight < kMaxKeysInFlight; }
  void SendKeys(const keyboard::TTerminalInput& input) override;
  void KeyDropped() override {}
  void RequestScreen() override;
  void CtrlAltDel() override;
  void ChangeImage(const std::string& path) override;
  bool Shared() const override { return true; }
  void TakeKeyboard() override;
  void ReleaseKeyboard() override;
  bool History(int seconds, THistoryDone done) override;

 private:
  using TAnswered = std::function<void(const QJsonObject&)>;
  // Sends a request with an id of its own; `answered` gets its answer.
  void Request(QJsonObject request, TAnswered answered);
  // A key command: counted in flight until answered.
  void KeyRequest(QJsonObject request);
  // A refusal of something typed, told on the status line.
  void Refused(const std::string& what, const QJsonObject& answer);
  void Write(const std::string& bytes);
  void Readable();
  void Writable();
  void Gone(const std::string& why);
  void ScreenEvent(const QJsonObject& event);
  void StatusEvent(const QJsonObject& event);
  void SetWriter(bool writer);
  void Tick();
  void Each(const std::function<void(ISessionView&)>& tell);

  int Fd = -1;
  std::unique_ptr<QSocketNotifier> ReadNotifier;
  std::unique_ptr<QSocketNotifier> WriteNotifier;
  std::string In;
  std::string Out;
  bool Ended = false;
  QTimer Ticker;
  std::vector<ISessionView*> Views;
  std::map<int64_t, TAnswered> Waiting;
  int64_t NextId = 1;
  size_t KeysInFlight = 0;
  bool MayTake = true;

  display::TScreen Copy;
  bool Dirty = false;
  std::string Port = "COM1";
  std::string Device;
  bool IsConnected = false;
  bool Lost = false;
  uint64_t Bytes = 0;
  std::string Status;
  TLinkCounts Stats;
  floppy::TImageStatus Floppy;
  std::string Shift;
  bool Writer = false;
};

}  // namespace app
