#include "session/session.h"

#include <QCoreApplication>
#include <QDateTime>
#include <algorithm>
#include <cstdio>
#include <exception>
#include <utility>

#include "floppy/disk_service.h"
#include "keyboard/dom_codes.h"
#include "keyboard/keyboard_service.h"
#include "net/net_address.h"

namespace app {

namespace {
// How long Ctrl and Alt stay held after the Del of a Ctrl+Alt+Del was read, so
// that the board sees them when it looks at the shift state.
constexpr int kCtrlAltDelHoldTicks = 10;
}  // namespace

TSession::TSession(const TOptions& options) : Options(options) {
  Choice.UseCom2 = options.UseCom2;
  Observers.Add(&Stats);
  Link.Observer = &Observers;

  // The serial port with the window layout's settings: 115200 8N1, received characters only.
  comm::TDeviceNameMap names;
  names.Set("COM1", options.Com1);
  names.Set("COM2", options.Com2);
  Comm.SetDeviceNames(names);
  Comm.SetDeviceName("Com1");
  Comm.SetReadTimeout(200);
  Comm.SetWriteBufSize(4096);
  Comm.SetMonitorEvents(comm::EventSetOf(comm::evRxChar));
  Comm.SetBaudRate(comm::br115200);
  Comm.SetFlowControl(comm::fcNone);
  // Events reach the window thread through its event queue; the component cancels
  // a hand-over that is still queued when the port closes.
  Comm.SetSynchronize([](std::function<void()> call) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(call), Qt::QueuedConnection);
  });

  // Both ports feed the link and report to the status label alike.
  for (IBoardPort* port : {static_cast<IBoardPort*>(&Serial), static_cast<IBoardPort*>(&Net)}) {
    port->OnRxChar = [this](uint32_t count) { Link.CommRxChar(count); };
    port->OnError = [this, port](int errors) { CommError(*port, errors); };
    port->OnBreak = [this, port] { CommBreak(*port); };
    port->OnLost = [this, port](const std::string& reason) {
      if (port == &LinkPort.Current()) Lost(reason);
    };
  }

  ReconnectTimer.setSingleShot(true);
  QObject::connect(&ReconnectTimer, &QTimer::timeout, [this] { TryReopen(); });

  Loop.SetHandler(kServiceKeyboard, [this] {
    keyboard::KeyboardService(Link, Keyboard);
    Paster.Feed(Keyboard);  // the board has read: room for the next pasted keys
    ClientKeys.Feed(Keyboard);
    EachView([](ISessionView& v) { v.KeysRead(); });  // and for keys typed in a terminal
  });
  Loop.SetHandler(kServiceDisk, [this] { floppy::DiskService(Link, Floppy); });
  // A change of image or of its protection waits for the end of the request in progress.
  Loop.BetweenRequests = [this] { Floppy.ApplyPending(); };
  Loop.AfterRequest = [this] { NoteScreenChanges(); };
  // A key sent after a Ctrl+Alt+Del: Ctrl and Alt are no longer held.
  ClientKeys.BeforeEach = [this] { EndCtrlAltDel(); };

  // The board's handshake clears its screen a moment after an image message:
  // the user reads them on standard error too.
  ImageMessageOut = [](const std::string& line) { std::fprintf(stderr, "consolew: %s\n", line.c_str()); };
  NoticeOut = ImageMessageOut;
  Floppy.OnImageMessage = [this](const std::string& line) {
    if (ImageMessageOut) ImageMessageOut(line);
  };
  Floppy.OnChangeRefused = [this](const std::string& line) {
    EachView([&](ISessionView& v) { v.Notice("The floppy image was not changed", line); });
  };
  if (!options.NoAutoRefresh) Loop.OnAttach = [this] { Attached(); };
  // Keys refused by a full queue, typed, pasted or sent by a command, are counted.
  Keyboard.OnKeyDropped = [this] { Stats.NoteDroppedKey(); };
  Floppy.WriteProtect = options.ReadOnly;
  Keyboard.FullKeys = options.FullKeys;

  Screen.VideoMode = 3;
  Screen.ClearScreen();

  Timer1.setInterval(100);
  QObject::connect(&Timer1, &QTimer::timeout, [this] { Tick(); });
  Timer1.start();
}

TSession::~TSession() {
  Timer1.stop();
  ReconnectTimer.stop();
  Link.Observer = nullptr;
  Link.AbortRequested = 1;
  Net.Close();
  Comm.Close();
  Floppy.CloseImage();
  Floppy.FreeTrackBuffer();
}

void TSession::AddView(ISessionView* view) {
  if (std::find(Views.begin(), Views.end(), view) == Views.end()) Views.push_back(view);
}

void TSession::RemoveView(ISessionView* view) { std::erase(Views, view); }

std::string TSession::PortDevice() const { return DeviceFor(Choice.UseCom2); }

void TSession::SetDevice(bool com2, const std::string& device) {
  (com2 ? Options.Com2 : Options.Com1) = device;
  comm::TDeviceNameMap names = Comm.DeviceNames();
  names.Set(com2 ? "COM2" : "COM1", device);
  Comm.SetDeviceNames(names);
}

std::string TSession::OpenName() const {
  // The serial component looks the device up by the port's name.
  return &LinkPort.Current() == &Net ? PortDevice() : PortName();
}

void TSession::EachView(const std::function<void(ISessionView&)>& tell) {
  // A view may add or remove views from its handler: walk a copy.
  const auto views = Views;
  for (ISessionView* v : views) tell(*v);
}

void TSession::Broadcast(const std::string& status) {
  LastStatus = status;
  EachView([&](ISessionView& v) { v.StatusChanged(status); });
}

void TSession::ShowStatus(const char* text) { Broadcast(text); }

bool TSession::OpenTrace(const std::string& path, bool withData, std::string& error) {
  auto trace = std::make_unique<TTraceWriter>();
  if (!trace->Open(path, withData, error)) return false;
  trace->OnWriteError = [this, path](const std::string& why) {
    // The link goes on as before; the trace stops. Said at once on standard
    // error, and to the front-ends once the loop has ended (a message box
    // inside an exchange would hold the board up).
    Notice("the trace cannot be written (" + path + ": " + why + "); tracing stops");
    TraceFailure = path + ": " + why;
  };
  if (Trace) Observers.Remove(Trace.get());
  Trace = std::move(trace);
  Observers.Add(Trace.get());
  return true;
}

void TSession::NotePortLost() {
  Stats.NotePortLost();
  if (Trace) Trace->Note("the serial port was lost");
}

void TSession::Connect(const TConnectChoice& choice) {
  if (LoopRunning || IsConnected || Opening) return;  // the loop is never entered twice
  if (InTick) {
    // Qt fires no timer again while its handler runs: a loop started from in
    // here would leave the watchdog and the screen standing still.
    QTimer::singleShot(0, &Timer1, [this, choice] { Connect(choice); });
    return;
  }
  Choice = choice;
  Broadcast("Symb = " + std::to_string(2));
  Link.AbortRequested = 0;
  Link.PortLost = false;
  PortLostShown = false;
  Trial = TTrial::None;
  ConnectFailure.clear();
  Keyboard.ResetQueue();
  LinkPort.Use(net::IsNetworkName(PortDevice()) ? static_cast<IBoardPort*>(&Net)
                                                  : static_cast<IBoardPort*>(&Serial));
  Net.SetLineSettings(LineSettingsOf(Comm));
  std::string reason;
  if (!OpenPort(reason)) {
    // A port that cannot be opened is a failure, not a connection to nothing.
    if (!reason.empty()) {
      reason = WithServerWords(reason);
      EachView([&](ISessionView& v) { v.Failure("Error Opening COM", reason); });
    } else {
      // Disconnect while connecting: Connect ends here as the loop would have.
      EachView([&](ISessionView& v) { v.LoopEnded(); });
    }
    return;
  }

  uint16_t bits = 0;
  if (choice.Keyboard) bits |= kOptionKeyboard;
  if (choice.Video) bits |= kOptionVideo;
  if (choice.Floppy) {
    bits |= kOptionFloppy;
    if (!choice.ImageFile.empty()) {
      Floppy.OpenImage(choice.ImageFile, Floppy.WriteProtect);
      Floppy.AllocTrackBuffer();
    }
  }
  Loop.OptionBits = bits;

  Stats.Reset();
  if (Trace) {
    const std::string when =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString();
    Trace->Start("connect " + PortName() + " " + PortDevice() + " at " + when);
  }
  StartTrial(true);
  IsConnected = true;
  EachView([&](ISessionView& v) { v.ConnectionChanged(true); });
  RunLoop();
}

bool TSession::OpenPort(std::string& reason) {
  bool done = false;
  bool ok = false;
  Opening = true;
  LinkPort.Current().Open(OpenName(), [&](bool opened, const std::string& why) {
    done = true;
    ok = opened;
    reason = why;
  });
  // A network port connects in the background: the window goes on meanwhile.
  while (!done && Link.AbortRequested == 0) Pump.WaitForEvents();
  Opening = false;
  if (!done) {
    // Disconnect (or closing the window) while connecting: no message.
    LinkPort.Current().Close();
    reason.clear();
    return false;
  }
  return ok;
}

void TSession::RunLoop() {
  LoopRunning = true;
  Loop.Maincycle();
  LoopRunning = false;
  if (Trace) Trace->Note("disconnect\n" + FormatStats(Stats.Counts));
  if (!ConnectFailure.empty()) {
    // Told once the loop has ended: a message box inside an exchange would hold it up.
    const std::string detail = std::move(ConnectFailure);
    ConnectFailure.clear();
    EachView([&](ISessionView& v) { v.Failure("Error Opening COM", detail); });
  }
  if (!TraceFailure.empty()) {
    const std::string detail = std::move(TraceFailure);
    TraceFailure.clear();
    EachView([&](ISessionView& v) { v.Failure("Error Writing Trace", detail); });
  }
  EachView([&](ISessionView& v) { v.LoopEnded(); });
}

void TSession::Attached() {
  // The waiting banner goes, as the handshake would have cleared it, and the
  // board is asked once for its screen.
  Screen.ClearScreen();
  RequestScreenOnce();
  if (Trace) Trace->Note("the board was running already: asking it for its screen (7F00)");
}

void TSession::Disconnect() {
  Link.AbortRequested = 1;
  // Waiting for a lost port ends at once.
  ReconnectTimer.stop();
  ++ReopenAttempt;
  Reopening = false;
  Link.PortLost = false;
  Trial = TTrial::None;
  try {
    LinkPort.Current().Close();
  } catch (const std::exception& e) {
    EachView([&](ISessionView& v) { v.Failure("Error Closing COM", e.what()); });
  }
  Floppy.DropPending();
  Floppy.CloseImage();
  Floppy.FreeTrackBuffer();
  Paster.Clear();
  ClientKeys.Drop(nullptr, "not connected");
  IsConnected = false;
  EachView([&](ISessionView& v) { v.ConnectionChanged(false); });
}

void TSession::Lost(const std::string& reason) {
  if (!IsConnected || Link.PortLost) return;
  JudgeTrial();  // a good packet may have come since the last tick
  const TTrial trial = std::exchange(Trial, TTrial::None);
  const bool early = trial != TTrial::None && TrialTicks < kTrialEarlyTicks;
  if (early && trial == TTrial::Connect) {
    // Accepted and closed at once: the Connect fails, with the server's words.
    ConnectFailure = WithServerWords(reason);
    if (Trace) Trace->Note("the port closed at once: " + ConnectFailure);
    Disconnect();
    return;
  }
  if (Options.NoReconnect) {
    if (PortLostShown) return;
    // An unplugged adapter: say so once on the screen; Disconnect, plug it in, Connect.
    PortLostShown = true;
    NotePortLost();
    Screen.ConPrintf("\r\nSerial port lost: press Disconnect, check the cable, then Connect\r\n");
    return;
  }
  // Nothing from before the loss may be completed with bytes from after it:
  // the exchange in progress is abandoned and what was not read is dropped.
  Link.Lost();
  try {
    LinkPort.Current().Close();
  } catch (const std::exception&) {
    // It is gone already; a failed close changes nothing.
  }
  if (trial == TTrial::Reopen) {
    // Never back for the user: the same loss goes on, and so does the back-off.
    if (early) ShowServerWords(reason);
    ReconnectTimer.start(ReconnectDelays.Next());
    return;
  }
  NotePortLost();
  ServerWordsShown.clear();
  Notice(reason + "; waiting for it to come back");
  Screen.ConPrintf("Serial port lost: waiting for it to come back\r\n");
  Broadcast("Lost");
  ReconnectDelays.Reset(LinkPort.Current().Local());
  ReconnectTimer.start(ReconnectDelays.Next());
}

void TSession::TryReopen() {
  if (!IsConnected || !Link.PortLost || Reopening) return;
  Reopening = true;
  const uint64_t attempt = ++ReopenAttempt;
  LinkPort.Current().Open(OpenName(), [this, attempt](bool ok, const std::string& reason) {
    if (attempt != ReopenAttempt) return;
    Reopening = false;
    if (!ok) {
      ShowServerWords(reason);
      ReconnectTimer.start(ReconnectDelays.Next());
      return;
    }
    Reopened();
  });
}

void TSession::Reopened() {
  // The board's retries bring the link up again; nothing of before is kept.
  Link.Back();
  if (LinkPort.Current().Local()) {
    Back();
    return;
  }
  StartTrial(false);
}

void TSession::Back() {
  Notice(PortDevice() + " is back");
  Screen.ConPrintf("Serial port back\r\n");
  Broadcast(std::to_string(Link.Rx.RxCount));
}

void TSession::CommError(IBoardPort& sender, int errors) {
  (void)errors;  // which error it was does not change the answer
  Broadcast("Error");
  sender.RaiseRts();
}

void TSession::CommBreak(IBoardPort& sender) {
  Broadcast("Break");
  sender.RaiseRts();
}

void TSession::StartTrial(bool atConnect) {
  Trial = TTrial::None;
  if (LinkPort.Current().Local()) return;
  Trial = atConnect ? TTrial::Connect : TTrial::Reopen;
  TrialTicks = 0;
  TrialPackets = GoodPackets();
}

void TSession::JudgeTrial() {
  if (Trial == TTrial::None) return;
  const int enough = Trial == TTrial::Connect ? kTrialEarlyTicks : kTrialSettledTicks;
  if (GoodPackets() == TrialPackets && TrialTicks < enough) return;
  const TTrial ended = std::exchange(Trial, TTrial::None);
  if (ended == TTrial::Reopen) Back();
}

uint64_t TSession::GoodPackets() const { return Stats.Counts.AllRequests() + Stats.Counts.BlocksReceived; }

std::string TSession::WithServerWords(const std::string& reason) const {
  const std::string words = LinkPort.Current().FirstWords();
  return words.empty() ? reason : PortDevice() + ": the server said: " + words;
}

void TSession::ShowServerWords(const std::string& reason) {
  const std::string words = LinkPort.Current().FirstWords();
  if (words.empty() || words == ServerWordsShown) return;
  ServerWordsShown = words;
  Notice(WithServerWords(reason) + "; waiting for it to come back");
  Screen.ConPrintf("Serial port: the server said: %s\r\n", words.c_str());
  if (Trace) Trace->Note("the server said: " + words);
}

void TSession::RequestScreenOnce() {
  RefreshOnce = true;
  Keyboard.RefreshRequest = true;
}

void TSession::SendCtrlAltDel() {
  Keyboard.ShiftFlags |= keyboard::kFlagCtrl | keyboard::kFlagAlt;
  Keyboard.PrintKBDState();
  Keyboard.PushKey(keyboard::kDelKeyCode);  // as the Del button
  CtrlAltDelTicks = kCtrlAltDelHoldTicks;
}

void TSession::EndCtrlAltDel() {
  if (CtrlAltDelTicks == 0) return;
  CtrlAltDelTicks = 0;
  Keyboard.ShiftFlags &= static_cast<uint8_t>(~(keyboard::kFlagCtrl | keyboard::kFlagAlt));
  Keyboard.PrintKBDState();
}

void TSession::ChangeImage(const std::string& path) {
  Choice.ImageFile = path;
  Choice.Floppy = true;
  if (LoopRunning && IsConnected) Floppy.RequestImage(path);
}

void TSession::SetWriteProtect(bool on) { Floppy.RequestWriteProtect(on); }

bool TSession::WriteProtected() const {
  if (Floppy.PendingProtect) return *Floppy.PendingProtect;
  return Floppy.HasImage() ? Floppy.ReadOnly : Floppy.WriteProtect;
}

void TSession::PasteText(const std::string& text) {
  Paster.Paste(text);
  Paster.Feed(Keyboard);
}

void TSession::NoteScreenChanges() {
  if (Screen.Changes == ChangesSeen) return;
  ChangesSeen = Screen.Changes;
  EachView([](ISessionView& v) { v.ScreenChanged(); });
}

void TSession::SetWriter(TWriterKind kind, const void* client) {
  if (kind == WriterIs && client == WriterId) return;
  WriterIs = kind;
  WriterId = client;
  // The new writer starts with no Shift, Ctrl or Alt held by the old one, and
  // nothing the old one sent still goes in.
  ClientKeys.DropOthers(kind == TWriterKind::Client ? client : &ClientKeys, "not the writer");
  // (A Ctrl+Alt+Del still being read keeps its Ctrl and Alt until the board has it.)
  if (CtrlAltDelTicks == 0) {
    Keyboard.ShiftFlags &= static_cast<uint8_t>(~keyboard::kHeldBits);
    Keyboard.PrintKBDState();
  }
  EachView([](ISessionView& v) { v.WriterChanged(); });
}

void TSession::TakeKeyboard(const void* client) { SetWriter(TWriterKind::Client, client); }

void TSession::ReleaseKeyboard(const void* client) {
  if (!IsWriter(client)) return;
  SetWriter(HasLocalWriter ? TWriterKind::Local : TWriterKind::Nobody, nullptr);
}

void TSession::ForgetClient(const void* client) {
  ClientKeys.Drop(client, {});
  ReleaseKeyboard(client);
}

void TSession::SetLocalWriter(bool present) {
  HasLocalWriter = present;
  if (!present && WriterIs == TWriterKind::Local) SetWriter(TWriterKind::Nobody, nullptr);
  if (present && WriterIs == TWriterKind::Nobody) SetWriter(TWriterKind::Local, nullptr);
}

std::string TSession::KeyRefusal(const void* client) const {
  if (!IsWriter(client)) return "not the writer";
  if (!IsConnected) return "not connected";
  return {};
}

void TSession::FeedKeys() { ClientKeys.Feed(Keyboard); }

void TSession::ClientKeyEvent(const void* client, std::string_view code, bool down, TKeyDone done) {
  if (const std::string why = KeyRefusal(client); !why.empty()) return done(false, why);
  const auto key = keyboard::DomKeyOf(code);
  if (!key) return done(false, "unknown key");
  ClientKeys.PushAction(
      client,
      [key = *key, down](keyboard::TKeyboard& kb) {
        const keyboard::TKeyMessage m = keyboard::DomKeyMessage(key, down, kb.ShiftFlags);
        bool handled = false;
        kb.AppMessage(m.Message, m.WParam, m.LParam, handled);
      },
      std::move(done));
  FeedKeys();
}

void TSession::ClientChord(const void* client, std::string_view name, TKeyDone done) {
  if (const std::string why = KeyRefusal(client); !why.empty()) return done(false, why);
  std::string error;
  const auto chord = keyboard::ParseChord(name, error);
  if (!chord) return done(false, error);
  const auto del = keyboard::DomKeyOf("Delete");
  if (chord->Ctrl && chord->Alt && !chord->Shift && chord->Key.Scan == del->Scan) {
    // As the Del button: Ctrl and Alt held for the board while Del is read.
    ClientKeys.PushAction(client, [this](keyboard::TKeyboard&) { SendCtrlAltDel(); }, std::move(done));
    FeedKeys();
    return;
  }
  ClientKeys.PushAction(
      client,
      [c = *chord](keyboard::TKeyboard& kb) {
        const auto send = [&kb](keyboard::TDomKey key, bool down) {
          const keyboard::TKeyMessage m = keyboard::DomKeyMessage(key, down, kb.ShiftFlags);
          bool handled = false;
          kb.AppMessage(m.Message, m.WParam, m.LParam, handled);
        };
        // The modifiers the writer does not hold already go down around the key.
        struct TMod {
          bool Wanted;
          uint8_t Bit;
          const char* Code;
        };
        const TMod mods[] = {{c.Ctrl, keyboard::kFlagCtrl, "ControlLeft"},
                             {c.Alt, keyboard::kFlagAlt, "AltLeft"},
                             {c.Shift, keyboard::kFlagLeftShift, "ShiftLeft"}};
        bool pressed[3] = {false, false, false};
        for (size_t i = 0; i < 3; ++i) {
          const bool held = (kb.ShiftFlags & mods[i].Bit) != 0 ||
                            (mods[i].Bit == keyboard::kFlagLeftShift && (kb.ShiftFlags & keyboard::kFlagRightShift) != 0);
          if (mods[i].Wanted && !held) {
            send(*keyboard::DomKeyOf(mods[i].Code), true);
            pressed[i] = true;
          }
        }
        send(c.Key, true);
        send(c.Key, false);
        for (size_t i = 3; i-- > 0;) {
          if (pressed[i]) send(*keyboard::DomKeyOf(mods[i].Code), false);
        }
      },
      std::move(done));
  FeedKeys();
}

void TSession::ClientKeyCode(const void* client, uint16_t code, TKeyDone done) {
  if (const std::string why = KeyRefusal(client); !why.empty()) return done(false, why);
  ClientKeys.PushAction(client, [code](keyboard::TKeyboard& kb) { kb.PushKey(code); }, std::move(done));
  FeedKeys();
}

void TSession::ClientType(const void* client, std::string_view text, TKeyDone done) {
  if (const std::string why = KeyRefusal(client); !why.empty()) return done(false, why);
  ClientKeys.PushText(client, text, std::move(done));
  FeedKeys();
}

void TSession::Tick() {
  InTick = true;
  if (TickHook) TickHook();
  Link.TimerTick();
  if (Trial != TTrial::None) {
    ++TrialTicks;
    JudgeTrial();
  }
  Paster.Feed(Keyboard);
  ClientKeys.Feed(Keyboard);
  NoteScreenChanges();  // the console's own messages, printed between requests
  const bool dirty = Screen.ScreenDirty != 0;
  Screen.ScreenDirty = 0;
  EachView([&](ISessionView& v) { v.Refresh(dirty); });

  if (CtrlAltDelTicks > 0 && Keyboard.QueueEmpty() && CtrlAltDelTicks-- == 1) {
    CtrlAltDelTicks = 1;
    EndCtrlAltDel();
  }

  TickDivider = (TickDivider + 1) % 5;
  if (TickDivider == 0) {
    Broadcast(PortLost() ? std::string("Lost") : std::to_string(Link.Rx.RxCount));
    EachView([&](ISessionView& v) { v.SlowTick(); });
    // The one-off request stands until the board has been told (the keyboard clears it).
    if (RefreshOnce && !Keyboard.RefreshRequest) RefreshOnce = false;
    bool wanted = RefreshOnce;
    for (ISessionView* v : Views) wanted = wanted || v->RefreshWanted();
    Keyboard.RefreshRequest = wanted;
  }
  InTick = false;
}

}  // namespace app
