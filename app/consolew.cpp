#include "app/consolew.h"

#include <QApplication>
#include <algorithm>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFontDatabase>
#include <QMessageBox>
#include <QPainter>

#include "floppy/disk_service.h"
#include "keyboard/keyboard_service.h"
#include "keyboard/lock_sync.h"

namespace app {
namespace {

QFont SansFont(int pixels, bool bold) {
  QFont f = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  f.setPixelSize(pixels);
  f.setBold(bold);
  return f;
}

QFont MonoFont(int pixels) {
  QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  f.setPixelSize(pixels);
  return f;
}

// The layout's widths were measured for a 96-dpi Windows font; where this
// platform's font needs more room, a control grows and those to its right move along.
void FitRow(std::initializer_list<QWidget*> row) {
  int minLeft = 0;
  for (QWidget* w : row) {
    const QRect g = w->geometry();
    const int width = std::max(g.width(), w->sizeHint().width());
    const int left = std::max(g.left(), minLeft);
    w->setGeometry(left, g.top(), width, g.height());
    minLeft = left + width + 3;
  }
}

void SetTextColour(QWidget* w, const QColor& colour) {
  QPalette p = w->palette();
  p.setColor(QPalette::ButtonText, colour);
  p.setColor(QPalette::WindowText, colour);
  w->setPalette(p);
}

}  // namespace

TConDos::TConDos(const TOptions& options, QWidget* parent)
    : QWidget(parent),
      Renderer(display::MakeDisplayFont()),
      MarkerState(Renderer.CellWidth, Renderer.CellHeight, PanelHeight) {
  setWindowTitle(QString::fromLatin1(kWindowCaption));
  // The window is black wherever the screen image does not cover it; paintEvent
  // fills it, so the controls keep the desktop's own colours.
  setAttribute(Qt::WA_OpaquePaintEvent);

  RunOpenDialog = [this]() -> std::optional<QString> {
    const QString start = FileName.isEmpty() ? QStringLiteral(".") : FileName;
    const QString name = QFileDialog::getOpenFileName(this, QStringLiteral("Floppy Images"), start,
                                                      QStringLiteral("*.img;*.ima (*.img *.ima)"));
    if (name.isEmpty()) return std::nullopt;
    return name;
  };
  ShowMessage = [this](const QString& text, const QString& detail) {
    QMessageBox box(QMessageBox::Warning, QString::fromLatin1(kMessageTitle), text, QMessageBox::Ok, this);
    if (!detail.isEmpty()) box.setInformativeText(detail);
    box.exec();
  };

  BuildPanel(options);

  // The serial port, with the window's settings: 115200 8N1, received characters only.
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
    if ((static_cast<uint32_t>(errors) & comm::CE_DEVICE_LOST) != 0 && !PortLostShown) {
      // An unplugged adapter: say so once on the screen; Disconnect, plug it in, Connect.
      PortLostShown = true;
      Screen.ConPrintf("\r\nSerial port lost: press Disconnect, check the cable, then Connect\r\n");
    }
    CommError();
  };
  Comm.OnBreak = [this](comm::TThreadComm*) { CommBreak(); };
  // Events reach the window thread through its event queue; the component cancels
  // a hand-over that is still queued when the port closes.
  Comm.SetSynchronize([](std::function<void()> call) {
    QMetaObject::invokeMethod(qApp, std::move(call), Qt::QueuedConnection);
  });

  Loop.SetHandler(kServiceKeyboard, [this] { keyboard::KeyboardService(Link, Keyboard); });
  Loop.SetHandler(kServiceDisk, [this] { floppy::DiskService(Link, Floppy); });

  // Sizes follow from the display font's cell; the image sits below the panel.
  Marker->resize(Renderer.CellWidth, display::TCursorMarker::kHeight);
  resize(MarkerState.NaturalWidth(), MarkerState.NaturalHeight());
  Screen.VideoMode = 3;
  Screen.ClearScreen();

  Keyboard.OnStateText = [this](const std::string& text) {
    Label1->setText(QString::fromStdString(text));
    Label1->adjustSize();
  };
  KeyHook = std::make_unique<keyboard::TKeyHook>(*this, Keyboard);
  qApp->installEventFilter(KeyHook.get());

  Timer1.setInterval(100);
  connect(&Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
  Timer1.start();

  if (!options.Image.empty()) {
    FileName = QString::fromStdString(options.Image);
    EnaFloppy->setChecked(true);
  }
  if (options.Connect) QTimer::singleShot(0, this, [this] { OpenComClick(); });
}

TConDos::~TConDos() {
  if (KeyHook) qApp->removeEventFilter(KeyHook.get());
  Link.AbortRequested = 1;
  Comm.Close();
  Floppy.CloseImage();
  Floppy.FreeTrackBuffer();
}

void TConDos::BuildPanel(const TOptions& options) {
  Panel = new QWidget(this);
  Panel->setAutoFillBackground(true);
  Panel->setGeometry(0, 0, MarkerState.NaturalWidth(), PanelHeight);

  Connect = new QPushButton(QStringLiteral("Connect"), Panel);
  Connect->setGeometry(7, 8, 71, 25);
  Connect->setToolTip(QStringLiteral("Open COM Port"));
  Connect->setFont(SansFont(13, true));
  // The layout asks for white text here, which the Windows button never showed
  // (push buttons are drawn in system colours); white on a light button is unreadable.
  connect(Connect, &QPushButton::clicked, this, [this] { OpenComClick(); });

  Disconnect = new QToolButton(Panel);
  Disconnect->setText(QStringLiteral("Disconnect"));
  Disconnect->setGeometry(81, 8, 89, 25);
  Disconnect->setToolTip(QStringLiteral("Close COM Port"));
  Disconnect->setFont(SansFont(13, true));
  Disconnect->setEnabled(false);
  connect(Disconnect, &QToolButton::clicked, this, [this] { CloseComClick(); });

  Rscr = new QToolButton(Panel);
  Rscr->setText(QStringLiteral("R"));
  Rscr->setGeometry(176, 8, 29, 25);
  Rscr->setToolTip(QStringLiteral("Refresh Screen"));
  Rscr->setCheckable(true);
  Rscr->setAutoRaise(true);
  QFont rFont = display::MakeDisplayFont();
  rFont.setBold(true);
  Rscr->setFont(rFont);
  SetTextColour(Rscr, Qt::red);

  ButtonDel = new QPushButton(QStringLiteral("Del"), Panel);
  ButtonDel->setGeometry(176, 8, 29, 25);
  ButtonDel->setToolTip(QStringLiteral("Push to reboot Remote Computer"));
  ButtonDel->setFont(SansFont(13, true));
  ButtonDel->hide();
  connect(ButtonDel, &QPushButton::clicked, this, [this] { ButtonDelClick(); });

  EnaKeyboard = new QCheckBox(QStringLiteral("Keyboard"), Panel);
  EnaKeyboard->setGeometry(212, 14, 65, 17);
  EnaKeyboard->setToolTip(QStringLiteral("Enable Remote Keyboard"));
  EnaKeyboard->setFont(SansFont(11, false));
  EnaKeyboard->setChecked(true);

  EnaVideo = new QCheckBox(QStringLiteral("Video"), Panel);
  EnaVideo->setGeometry(280, 14, 49, 17);
  EnaVideo->setToolTip(QStringLiteral("Enamble Remote Video"));
  EnaVideo->setFont(SansFont(11, false));
  EnaVideo->setChecked(true);

  EnaFloppy = new QCheckBox(QStringLiteral("Floppy..."), Panel);
  EnaFloppy->setGeometry(332, 14, 65, 17);
  EnaFloppy->setToolTip(QStringLiteral("Enable Remote Floppy"));
  EnaFloppy->setFont(SansFont(11, false));
  connect(EnaFloppy, &QCheckBox::clicked, this, [this] { EnableFloppyClick(); });

  COMGroup = new QGroupBox(Panel);
  COMGroup->setGeometry(400, 2, 122, 32);
  COMGroup->setFont(SansFont(11, false));
  Com1Item = new QRadioButton(QStringLiteral("COM1"), COMGroup);
  Com1Item->setGeometry(6, 8, 55, 18);
  Com1Item->setToolTip(QString::fromStdString(options.Com1));
  Com2Item = new QRadioButton(QStringLiteral("COM2"), COMGroup);
  Com2Item->setGeometry(63, 8, 55, 18);
  Com2Item->setToolTip(QString::fromStdString(options.Com2));
  (options.UseCom2 ? Com2Item : Com1Item)->setChecked(true);

  Label1 = new QLabel(QStringLiteral("Label1"), Panel);
  Label1->setGeometry(532, 13, 42, 15);
  Label1->setFont(MonoFont(12));
  Label1->setMinimumWidth(42);

  Label2 = new QLabel(QStringLiteral("0"), Panel);
  Label2->setFont(SansFont(11, false));
  Label2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  Label2->setEnabled(false);
  Label2->setGeometry(Panel->width() - 7 - 100, 1, 100, 39);

  Log = new QToolButton(Panel);
  Log->setText(QStringLiteral("LOG"));
  Log->setGeometry(752, 27, 29, 14);
  Log->setCheckable(true);
  Log->setAutoRaise(true);
  Log->setFont(SansFont(11, false));
  Log->hide();
  connect(Log, &QToolButton::clicked, this, [this] { LogClick(); });

  Marker = new QLabel(this);
  Marker->setGeometry(336, 96, 60, 18);
  Marker->setAutoFillBackground(true);
  QPalette white = Marker->palette();
  white.setColor(QPalette::Window, Qt::white);
  Marker->setPalette(white);

  FitRow({Com1Item, Com2Item});
  COMGroup->resize(std::max(COMGroup->width(), Com2Item->geometry().right() + 6), COMGroup->height());
  FitRow({EnaKeyboard, EnaVideo, EnaFloppy, COMGroup, Label1});

  setTabOrder(Connect, EnaKeyboard);
  setTabOrder(EnaKeyboard, EnaVideo);
  setTabOrder(EnaVideo, Com1Item);
  setTabOrder(Com1Item, EnaFloppy);
  setTabOrder(EnaFloppy, ButtonDel);
}

void TConDos::ShowStatus(const char* text) { Label2->setText(QString::fromLatin1(text)); }

void TConDos::SetConnectedControls(bool connected) {
  for (QWidget* w : {static_cast<QWidget*>(EnaKeyboard), static_cast<QWidget*>(EnaVideo),
                     static_cast<QWidget*>(EnaFloppy), static_cast<QWidget*>(Connect),
                     static_cast<QWidget*>(COMGroup)}) {
    w->setEnabled(!connected);
  }
  Disconnect->setEnabled(connected);
}

void TConDos::OpenComClick() {
  if (LoopRunning) return;  // the loop is never entered twice
  Label2->setText(QStringLiteral("Symb = ") + QString::number(2));
  try {
    Link.AbortRequested = 0;
    PortLostShown = false;
    Keyboard.ResetQueue();
    Comm.SetDeviceName(Com2Item->isChecked() ? "COM2" : "COM1");
    Comm.Open();
  } catch (const std::exception& e) {
    ShowMessage(QStringLiteral("Error Opening COM"), QString::fromLocal8Bit(e.what()));
    return;
  }
  if (!Comm.Enabled()) {
    // A port that cannot be opened is a failure, not a connection to nothing.
    ShowMessage(QStringLiteral("Error Opening COM"), QString::fromStdString(Comm.LastOpenError().Text));
    return;
  }

  uint16_t bits = 0;
  if (EnaKeyboard->isChecked()) bits |= kOptionKeyboard;
  if (EnaVideo->isChecked()) bits |= kOptionVideo;
  if (EnaFloppy->isChecked()) {
    bits |= kOptionFloppy;
    if (!FileName.isEmpty()) {
      Floppy.OpenImage(FileName.toStdString(), false);
      Floppy.AllocTrackBuffer();
    }
  }
  Loop.OptionBits = bits;

  SetConnectedControls(true);
  setFocus();

  LoopRunning = true;
  Loop.Maincycle();
  LoopRunning = false;
  if (CloseWhenLoopEnds) QTimer::singleShot(0, this, [this] { close(); });
}

void TConDos::CloseComClick() {
  Link.AbortRequested = 1;
  try {
    Comm.Close();
  } catch (const std::exception& e) {
    ShowMessage(QStringLiteral("Error Closing COM"), QString::fromLocal8Bit(e.what()));
  }
  Floppy.CloseImage();
  Floppy.FreeTrackBuffer();
  SetConnectedControls(false);
}

void TConDos::closeEvent(QCloseEvent* event) {
  CloseComClick();
  if (LoopRunning) {
    // The service loop still has to unwind out of the Connect handler; the window
    // closes as soon as it has.
    CloseWhenLoopEnds = true;
    event->ignore();
    return;
  }
  event->accept();
}

void TConDos::Timer1Timer() {
  Link.TimerTick();
  ScreenRefresh();
  TickDivider = (TickDivider + 1) % 5;
  if (TickDivider != 0) return;
  Label2->setText(QString::number(Link.Rx.RxCount));
  ButtonDel->setVisible(Keyboard.DelButtonWanted());
  Keyboard.RefreshRequest = Rscr->isChecked();
}

void TConDos::CommError() {
  Label2->setText(QStringLiteral("Error"));
  try {
    Comm.SetRTSState(true);
  } catch (const std::exception&) {
    // A port without modem lines (or one that went away) has no RTS to raise.
  }
}

void TConDos::CommBreak() {
  Label2->setText(QStringLiteral("Break"));
  try {
    Comm.SetRTSState(true);
  } catch (const std::exception&) {
  }
}

void TConDos::LogClick() { Floppy.DiskLog = Log->isChecked() ? 1 : 0; }

void TConDos::ButtonDelClick() { Keyboard.ButtonDelClick(); }

void TConDos::EnableFloppyClick() {
  if (!EnaFloppy->isChecked()) return;  // unticking keeps the chosen name
  const auto chosen = RunOpenDialog();
  if (!chosen) {
    EnaFloppy->setChecked(false);
    return;
  }
  FileName = *chosen;
}

QRect TConDos::ImageRect() const {
  if (!MarkerState.Stretched()) {
    return QRect(0, PanelHeight, Renderer.ScreenBitmap.width(), Renderer.ScreenBitmap.height());
  }
  return QRect(0, PanelHeight, width(), height() - PanelHeight);
}

void TConDos::ScreenRefresh() {
  if (Screen.ScreenDirty != 0) {
    Screen.ScreenDirty = 0;
    Renderer.DrawChanged(Screen, [this] { Pump.ProcessPending(); });
    update(ImageRect());
    return;
  }
  MarkerState.Step(Screen);
  ApplyMarker();
}

void TConDos::ApplyMarker() {
  const auto& v = MarkerState.View;
  Marker->setGeometry(v.Left, v.Top, v.Width, v.Height);
  Marker->setVisible(v.Visible);
}

void TConDos::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect target = ImageRect();
  if (MarkerState.Stretched()) {
    painter.drawImage(target, Renderer.ScreenBitmap);
  } else {
    painter.drawImage(target.topLeft(), Renderer.ScreenBitmap);
    // Anything the image does not cover is the window's black.
    painter.fillRect(QRect(target.right() + 1, PanelHeight, width(), height()), Qt::black);
    painter.fillRect(QRect(0, target.bottom() + 1, width(), height()), Qt::black);
  }
}

void TConDos::resizeEvent(QResizeEvent*) { FormResize(); }

void TConDos::FormResize() {
  Panel->setGeometry(0, 0, width(), PanelHeight);
  Label2->setGeometry(Panel->width() - 7 - 100, 1, 100, 39);
  MarkerState.Resize(Screen, width(), height());
  Marker->resize(MarkerState.View.Width, MarkerState.View.Height);
  Renderer.InvalidateAll();
  Screen.ScreenDirty = 1;
}

bool TConDos::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate) FormActivate();
  return QWidget::event(e);
}

void TConDos::FormActivate() {
  Screen.ScreenDirty = 1;
  keyboard::SyncLocksFromSystem(Keyboard);
}

}  // namespace app
