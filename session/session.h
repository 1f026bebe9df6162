// One connection to the board, whatever shows it: the serial port, the link,
// the screen model, the keyboard, the floppy and the service loop, with the
// 100 ms tick that drives the watchdog, the refresh and the status. Front-ends
// (the window, a terminal, a pty) watch it through ISessionView and hand it the
// user's actions; none of them holds protocol state. No Qt Widgets here.
#pragma once

#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "comm/comm.h"
#include "display/screen.h"
#include "floppy/floppy_image.h"
#include "keyboard/key_paster.h"
#include "keyboard/keyboard.h"
#include "link/link.h"
#include "link/observer_list.h"
#include "session/board_port.h"
#include "session/client_keys.h"
#include "session/link_stats.h"
#include "session/net_port.h"
#include "session/qt_pump.h"
#include "session/reconnect_policy.h"
#include "session/serial_port.h"
#include "session/service_loop.h"
#include "session/session_options.h"
#include "session/status_sink.h"
#include "session/trace_writer.h"

namespace app {

// What the user chose for the next Connect (the window's check boxes and port choice).
struct TConnectChoice {
  bool Keyboard = true;
  bool Video = true;
  bool Floppy = false;
  std::string ImageFile;  // empty: none chosen
  bool UseCom2 = false;
};

// A front-end's view of the session; every call comes on the window thread.
class ISessionView {
 public:
  virtual ~ISessionView() = default;
  // Every tick, after the watchdog: `screenDirty` tells whether the screen model
  // changed since the last tick (the session clears the model's flag once for all views).
  virtual void Refresh(bool screenDirty) { (void)screenDirty; }
  // A short state for the status label: "Symb = 2", "Ping!", "Timeout!", "Error",
  // "Break", or (every 500 ms) the received-byte count.
  virtual void StatusChanged(const std::string& text) { (void)text; }
  // Every fifth tick, after the byte count (the Del button follows the shift state here).
  virtual void SlowTick() {}
  // Connected after a successful open, Disconnected at Disconnect.
  virtual void ConnectionChanged(bool connected) { (void)connected; }
  // A failure the user must see: "Error Opening COM" with its reason, "Error Closing COM".
  virtual void Failure(const std::string& text, const std::string& detail) {
    (void)text;
    (void)detail;
  }
  // Something the user asked for was not done while the connection goes on:
  // a floppy image that was refused, with the reason and what stays in service.
  virtual void Notice(const std::string& text, const std::string& detail) {
    (void)text;
    (void)detail;
  }
  // The service loop has returned (after Disconnect).
  virtual void LoopEnded() {}
  // The board has called its keyboard service: the key queue may have room.
  virtual void KeysRead() {}
  // Whether this front-end asks the board to upload its screen (the R button is down).
  virtual bool RefreshWanted() const { return false; }
  // After a served request that changed the screen model (a cell or the
  // cursor), not on the tick: for watchers that must not wait for it.
  virtual void ScreenChanged() {}
  // The keyboard went to another holder (see TSession::Writer).
  virtual void WriterChanged() {}
};

// Who holds the keyboard: the console's own front-end (the window, the
// terminal, the pty), one control client, or nobody.
enum class TWriterKind { Local, Client, Nobody };

// The link's port: whichever of the session's ports the last Connect chose.
class TLinkPort : public wire::ILinkPort {
 public:
  explicit TLinkPort(IBoardPort* port) : Port(port) {}
  void Use(IBoardPort* port) { Port = port; }
  IBoardPort& Current() const { return *Port; }
  int Read(void* buffer, uint32_t count) override { return Port->Read(buffer, count); }
  int Write(const void* buffer, uint32_t count) override { return Port->Write(buffer, count); }
  int InQueCount() override { return Port->InQueCount(); }

 private:
  IBoardPort* Port;
};

class TSession : private IStatusSink {
 public:
  explicit TSession(const TOptions& options);
  ~TSession() override;
  TSession(const TSession&) = delete;
  TSession& operator=(const TSession&) = delete;

  void AddView(ISessionView* view);
  void RemoveView(ISessionView* view);

  // Opens the chosen port and runs the service loop until Disconnect; returns
  // when the loop has ended (at once when the port could not be opened). Asked
  // from inside the tick, the loop starts once the tick has returned: the timer
  // must go on firing while the loop runs. A network port may take up to 5 s
  // to connect; the window stays alive meanwhile and Disconnect cancels.
  void Connect(const TConnectChoice& choice);
  // Ends the connection: the loop stops at its next check, the port and the
  // image are closed.
  void Disconnect();
  // One 100 ms tick.
  void Tick();

  // Opens the trace file (--trace) for every connection from now on; false
  // (with `error`) when it cannot be opened.
  bool OpenTrace(const std::string& path, bool withData, std::string& error);
  // The port went away under the connection: counted in the statistics and
  // noted in the trace.
  void NotePortLost();

  // The port's error event (a line error) and break event: "Error" or "Break"
  // in the status, and RTS raised on the port that reported it. Neither stops
  // the loop or closes the port.
  void CommError(IBoardPort& sender, int errors);
  void CommBreak(IBoardPort& sender);

  // The board is asked once for its screen (7F00 from check key), as one R click does.
  void RequestScreenOnce();
  // Ctrl and Alt held while Del is queued, as the Del button does with the keys held.
  void SendCtrlAltDel();
  // A key typed after it: Ctrl and Alt are no longer held.
  void EndCtrlAltDel();

  // Another floppy image. Connected: the image in service is closed after
  // its current request and `path` served from the next one (the old one
  // stays when `path` cannot be served). Always: the image for the next Connect.
  void ChangeImage(const std::string& path);
  // Write protection of the floppy image (--read-only), applied between two requests.
  void SetWriteProtect(bool on);
  // Whether the image is (or, once asked for, will be) served write-protected.
  bool WriteProtected() const;
  // Types UTF-8 text into the board as keys, as fast as the key queue takes them.
  void PasteText(const std::string& text);

  // The keyboard holder. Local front-ends are writers by default; a client
  // (any pointer that names it) that takes the keyboard becomes the writer and
  // the local front-ends' keys are refused; a release gives it back to the
  // console's own front-end, or to nobody when there is none (--headless).
  // Every change clears Shift, Ctrl and Alt held by the previous writer and
  // drops the keys it still had waiting.
  TWriterKind Writer() const { return WriterIs; }
  const void* WriterClient() const { return WriterIs == TWriterKind::Client ? WriterId : nullptr; }
  bool IsWriter(const void* client) const { return WriterIs == TWriterKind::Client && WriterId == client; }
  // Keys typed in the window, the terminal or the pty go to the board.
  bool LocalMayType() const { return WriterIs == TWriterKind::Local; }
  void TakeKeyboard(const void* client);
  void ReleaseKeyboard(const void* client);
  // A client went away: it holds nothing any more and its keys are dropped untold.
  void ForgetClient(const void* client);
  // Whether the console has a front-end of its own that types (false with
  // --headless without --pty): the holder after a release.
  void SetLocalWriter(bool present);

  // Key entry points for clients, each answered through `done` when its keys
  // are in the queue (or why not: "not the writer", "not connected", "unknown
  // key", "keyboard busy"). Keys wait for room and go in in the order sent.
  using TKeyDone = TClientKeys::TDone;
  // One key-down or key-up of a DOM KeyboardEvent.code ("ShiftLeft", "KeyA").
  void ClientKeyEvent(const void* client, std::string_view code, bool down, TKeyDone done);
  // A press and release with modifiers: "F1", "Shift+KeyA", "Ctrl+Alt+Delete"
  // (the last as the Del button does it).
  void ClientChord(const void* client, std::string_view name, TKeyDone done);
  // A BIOS key word (scan code x 256 + character), into the queue as it is.
  void ClientKeyCode(const void* client, uint16_t code, TKeyDone done);
  // UTF-8 text typed as on a US keyboard, paced as "Paste text as keys".
  void ClientType(const void* client, std::string_view text, TKeyDone done);
  // Keys the queue had to refuse, since the start.
  uint64_t DroppedKeys() const { return Keyboard.DroppedKeys; }
  // The board's codes for Alt+letters, Ctrl+cursor keys and the like (--full-keys).
  void SetFullKeys(bool on) { Keyboard.FullKeys = on; }
  bool FullKeys() const { return Keyboard.FullKeys; }

  // The service loop runs (or Connect is still opening the port).
  bool Running() const { return LoopRunning || Opening; }
  bool Connected() const { return IsConnected; }
  // The open port went away and the session waits for it to come back (a
  // network port open again but not yet proven counts as still away).
  bool PortLost() const { return Link.PortLost || Trial == TTrial::Reopen; }
  // How long until the lost port is tried again, in ms; 0 when no try is due.
  int ReconnectDelay() const { return ReconnectTimer.isActive() ? ReconnectTimer.interval() : 0; }
  // Tries the lost port now instead of when its delay ends, as if it had ended.
  void ReopenNow() {
    ReconnectTimer.stop();
    TryReopen();
  }
  const std::string& Status() const { return LastStatus; }
  // The device behind the port chosen at the last Connect (or COM1 before any).
  std::string PortDevice() const;
  std::string PortName() const { return Choice.UseCom2 ? "COM2" : "COM1"; }
  // The device (or network address) behind "COM1" or "COM2"; takes effect at
  // the next Connect.
  std::string DeviceFor(bool com2) const { return com2 ? Options.Com2 : Options.Com1; }
  void SetDevice(bool com2, const std::string& device);
  // What the last Connect used, with any image chosen since.
  const TConnectChoice& NextChoice() const { return Choice; }

  // Runs at the start of every tick (tests land events inside a redraw with it).
  std::function<void()> TickHook;
  // Where the floppy's messages go besides the board's screen (by default
  // standard error, a line each).
  std::function<void(const std::string&)> ImageMessageOut;
  // Where lines about the port (lost, back) and about a trace or log that
  // cannot be written go (by default standard error, a line each).
  std::function<void(const std::string&)> NoticeOut;
  void Notice(const std::string& line) {
    if (NoticeOut) NoticeOut(line);
  }

  // The core, owned for the whole run.
  TQtMessagePump Pump;
  comm::TComm Comm;
  TSerialPort Serial{Comm};
  TNetPort Net;
  TLinkPort LinkPort{&Serial};
  wire::TLink Link{LinkPort, Pump};
  // What the link does, counted per connection (reset at every Connect).
  TLinkStats Stats;
  // The trace file, when one was asked for.
  std::unique_ptr<TTraceWriter> Trace;
  display::TScreen Screen;
  keyboard::TKeyboard Keyboard;
  floppy::TFloppy Floppy{Screen};
  TServiceLoop Loop{Link, Screen, *this};
  keyboard::TKeyPaster Paster;
  TClientKeys ClientKeys;
  QTimer Timer1;
  uint32_t TickDivider = 0;

 private:
  void ShowStatus(const char* text) override;
  void Broadcast(const std::string& status);
  void EachView(const std::function<void(ISessionView&)>& tell);
  void RunLoop();
  // The board's first request after Connect was no handshake: it was running
  // before the console came, and its screen is not here.
  void Attached();
  // Opens the chosen port, waiting (with the window alive) until it is open or
  // has failed; false with `reason` (empty when Disconnect cancelled it).
  bool OpenPort(std::string& reason);
  std::string OpenName() const;
  void Lost(const std::string& reason);
  void TryReopen();
  // The lost port is open again: back at once when it is a device here, on
  // trial when it is a network server.
  void Reopened();
  // "Serial port back": the port is in service again.
  void Back();
  // Tells the views of a changed screen model since the last time.
  void NoteScreenChanges();
  void SetWriter(TWriterKind kind, const void* client);
  // Whether `client` may send keys now: empty, or the reason it may not.
  std::string KeyRefusal(const void* client) const;
  void FeedKeys();
  // The port opened; on a network server a trial starts (see TTrial).
  void StartTrial(bool atConnect);
  // Ends the trial when a good packet has come or the port has stayed up long
  // enough; says "Serial port back" for a reopened port then.
  void JudgeTrial();
  // Good packets read since Connect (requests and data blocks from the board).
  uint64_t GoodPackets() const;
  // `reason` with the server's own words instead, when it said any.
  std::string WithServerWords(const std::string& reason) const;
  // The server's words on a lost port that it closed at once: shown once
  // while the port is away (and again when they change).
  void ShowServerWords(const std::string& reason);

  wire::TObserverList Observers;
  TOptions Options;
  TConnectChoice Choice;
  std::string TraceFailure;  // why the trace stopped, until shown
  std::vector<ISessionView*> Views;
  std::string LastStatus = "0";
  bool LoopRunning = false;
  bool IsConnected = false;
  bool InTick = false;
  bool Opening = false;
  bool PortLostShown = false;
  bool Reopening = false;
  uint64_t ReopenAttempt = 0;
  TReconnectPolicy ReconnectDelays;
  QTimer ReconnectTimer;
  // A server such as ser2net accepts every connection and only then finds
  // that its device is missing: it says why and closes. A network port that
  // has opened is on trial until a good packet has come or it has stayed up
  // for kTrialSettledTicks: one that closes within kTrialEarlyTicks fails
  // the Connect, or after a loss leaves the port lost (the back-off going on)
  // instead of saying "back" and "lost" twice a second.
  enum class TTrial : uint8_t { None, Connect, Reopen };
  static constexpr int kTrialEarlyTicks = 10;    // the first second
  static constexpr int kTrialSettledTicks = 30;  // a few seconds
  TTrial Trial = TTrial::None;
  int TrialTicks = 0;
  uint64_t TrialPackets = 0;  // GoodPackets() when the trial started
  std::string ServerWordsShown;
  // Why a Connect failed after all (the server closed at once): told once the loop has ended.
  std::string ConnectFailure;
  bool RefreshOnce = false;
  int CtrlAltDelTicks = 0;
  uint64_t ChangesSeen = 0;
  TWriterKind WriterIs = TWriterKind::Local;
  const void* WriterId = nullptr;
  bool HasLocalWriter = true;
};

}  // namespace app
