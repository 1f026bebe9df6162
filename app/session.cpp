#include "app/session.h"

#include <QCoreApplication>
#include <QDateTime>
#include <algorithm>
#include <cstdio>
#include <exception>

#include "floppy/disk_service.h"
#include "keyboard/keyboard_service.h"

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
  Comm.OnRxChar = [this](comm::TThreadComm*, uint32_t count) { Link.CommRxChar(count); };
  Comm.OnError = [this](comm::TThreadComm*, int errors) {
    if ((static_cast<uint32_t>(errors) & comm::CE_DEVICE_LOST) != 0) PortLost();
    Broadcast("Error");
    try {
      Comm.SetRTSState(true);
    } catch (const std::exception&) {
      // A port without modem lines (or one that went away) has no RTS to raise.
    }
  };
  Comm.OnBreak = [this](comm::TThreadComm*) {
    Broadcast("Break");
    try {
      Comm.SetRTSState(true);
    } catch (const std::exception&) {
    }
  };
  // Events reach the window thread through its event queue; the component cancels
  // a hand-over that is still queued when the port closes.
  Comm.SetSynchronize([](std::function<void()> call) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(call), Qt::QueuedConnection);
  });

  Loop.SetHandler(kServiceKeyboard, [this] { keyboard::KeyboardService(Link, Keyboard); });
  Loop.SetHandler(kServiceDisk, [this] { floppy::DiskService(Link, Floppy); });

  Screen.VideoMode = 3;
  Screen.ClearScreen();

  Timer1.setInterval(100);
  QObject::connect(&Timer1, &QTimer::timeout, [this] { Tick(); });
  Timer1.start();
}

TSession::~TSession() {
  Timer1.stop();
  Link.Observer = nullptr;
  Link.AbortRequested = 1;
  Comm.Close();
  Floppy.CloseImage();
  Floppy.FreeTrackBuffer();
}

void TSession::AddView(ISessionView* view) {
  if (std::find(Views.begin(), Views.end(), view) == Views.end()) Views.push_back(view);
}

void TSession::RemoveView(ISessionView* view) { std::erase(Views, view); }

std::string TSession::PortDevice() const { return Choice.UseCom2 ? Options.Com2 : Options.Com1; }

void TSession::Broadcast(const std::string& status) {
  LastStatus = status;
  // A view may add or remove views from its handler: walk a copy.
  const auto views = Views;
  for (ISessionView* v : views) v->StatusChanged(status);
}

void TSession::ShowStatus(const char* text) { Broadcast(text); }

bool TSession::OpenTrace(const std::string& path, bool withData, std::string& error) {
  auto trace = std::make_unique<TTraceWriter>();
  if (!trace->Open(path, withData, error)) return false;
  trace->OnWriteError = [this, path](const std::string& why) {
    // The link goes on as before; the trace stops. Said at once on standard
    // error, and to the front-ends once the loop has ended (a message box
    // inside an exchange would hold the board up).
    std::fprintf(stderr, "consolew: the trace cannot be written (%s: %s); tracing stops\n", path.c_str(),
                 why.c_str());
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
  if (LoopRunning || IsConnected) return;  // the loop is never entered twice
  if (InTick) {
    // Qt fires no timer again while its handler runs: a loop started from in
    // here would leave the watchdog and the screen standing still.
    QTimer::singleShot(0, &Timer1, [this, choice] { Connect(choice); });
    return;
  }
  Choice = choice;
  Broadcast("Symb = " + std::to_string(2));
  try {
    Link.AbortRequested = 0;
    PortLostShown = false;
    Keyboard.ResetQueue();
    Comm.SetDeviceName(choice.UseCom2 ? "COM2" : "COM1");
    Comm.Open();
  } catch (const std::exception& e) {
    for (ISessionView* v : std::vector(Views)) v->Failure("Error Opening COM", e.what());
    return;
  }
  if (!Comm.Enabled()) {
    // A port that cannot be opened is a failure, not a connection to nothing.
    for (ISessionView* v : std::vector(Views)) v->Failure("Error Opening COM", Comm.LastOpenError().Text);
    return;
  }

  uint16_t bits = 0;
  if (choice.Keyboard) bits |= kOptionKeyboard;
  if (choice.Video) bits |= kOptionVideo;
  if (choice.Floppy) {
    bits |= kOptionFloppy;
    if (!choice.ImageFile.empty()) {
      Floppy.OpenImage(choice.ImageFile, false);
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
  IsConnected = true;
  for (ISessionView* v : std::vector(Views)) v->ConnectionChanged(true);
  RunLoop();
}

void TSession::RunLoop() {
  LoopRunning = true;
  Loop.Maincycle();
  LoopRunning = false;
  if (Trace) Trace->Note("disconnect\n" + FormatStats(Stats.Counts));
  if (!TraceFailure.empty()) {
    const std::string detail = std::move(TraceFailure);
    TraceFailure.clear();
    for (ISessionView* v : std::vector(Views)) v->Failure("Error Writing Trace", detail);
  }
  for (ISessionView* v : std::vector(Views)) v->LoopEnded();
}

void TSession::Disconnect() {
  Link.AbortRequested = 1;
  try {
    Comm.Close();
  } catch (const std::exception& e) {
    for (ISessionView* v : std::vector(Views)) v->Failure("Error Closing COM", e.what());
  }
  Floppy.CloseImage();
  Floppy.FreeTrackBuffer();
  IsConnected = false;
  for (ISessionView* v : std::vector(Views)) v->ConnectionChanged(false);
}

void TSession::PortLost() {
  if (PortLostShown) return;
  // An unplugged adapter: say so once on the screen; Disconnect, plug it in, Connect.
  PortLostShown = true;
  NotePortLost();
  Screen.ConPrintf("\r\nSerial port lost: press Disconnect, check the cable, then Connect\r\n");
}

void TSession::RequestScreenOnce() {
  RefreshOnce = true;
  Keyboard.RefreshRequest = true;
}

void TSession::SendCtrlAltDel() {
  Keyboard.ShiftFlags |= keyboard::kFlagCtrl | keyboard::kFlagAlt;
  Keyboard.PrintKBDState();
  if (!Keyboard.PushKey(keyboard::kDelKeyCode)) Stats.NoteDroppedKey();  // as the Del button
  CtrlAltDelTicks = kCtrlAltDelHoldTicks;
}

void TSession::EndCtrlAltDel() {
  if (CtrlAltDelTicks == 0) return;
  CtrlAltDelTicks = 0;
  Keyboard.ShiftFlags &= static_cast<uint8_t>(~(keyboard::kFlagCtrl | keyboard::kFlagAlt));
  Keyboard.PrintKBDState();
}

void TSession::Tick() {
  InTick = true;
  if (TickHook) TickHook();
  Link.TimerTick();
  const bool dirty = Screen.ScreenDirty != 0;
  Screen.ScreenDirty = 0;
  for (ISessionView* v : std::vector(Views)) v->Refresh(dirty);

  if (CtrlAltDelTicks > 0 && Keyboard.QueueEmpty() && CtrlAltDelTicks-- == 1) {
    CtrlAltDelTicks = 1;
    EndCtrlAltDel();
  }

  TickDivider = (TickDivider + 1) % 5;
  if (TickDivider == 0) {
    Broadcast(std::to_string(Link.Rx.RxCount));
    for (ISessionView* v : std::vector(Views)) v->SlowTick();
    // The one-off request stands until the board has been told (the keyboard clears it).
    if (RefreshOnce && !Keyboard.RefreshRequest) RefreshOnce = false;
    bool wanted = RefreshOnce;
    for (ISessionView* v : Views) wanted = wanted || v->RefreshWanted();
    Keyboard.RefreshRequest = wanted;
  }
  InTick = false;
}

}  // namespace app
