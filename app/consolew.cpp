#include "app/consolew.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QSaveFile>
#include <QFontMetrics>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <memory>

#include "app/port_dialog.h"
#include "display/screen_text.h"
#include "keyboard/lock_sync.h"
#include "session/floppy_status.h"

namespace app {
namespace {

// The layout's fonts at 96 dpi: "MS Sans Serif" is served by Liberation Sans,
// "Courier New" by its metric twin Liberation Mono; the controls keep the
// layout's positions and sizes.
QFont SansFont(int pixels, bool bold) {
  QFont f(QStringLiteral("Liberation Sans"));
  f.setPixelSize(pixels);
  f.setBold(bold);
  return f;
}

// "MS Sans Serif" -11: the captions of the check boxes must fit the layout's
// 65-pixel boxes beside the indicator, which the narrow cut does at 12 px.
QFont SmallSansFont() {
  QFont f(QStringLiteral("Liberation Sans Narrow"));
  f.setPixelSize(12);
  return f;
}

QFont MonoFont(int pixels) {
  QFont f(QStringLiteral("Liberation Mono"));
  f.setStyleHint(QFont::TypeWriter);
  f.setPixelSize(pixels);
  return f;
}

void SetTextColour(QWidget* w, const QColor& colour) {
  QPalette p = w->palette();
  p.setColor(QPalette::ButtonText, colour);
  p.setColor(QPalette::WindowText, colour);
  w->setPalette(p);
}

// The status label's width as the layout gives it, grown to its text.
constexpr int kLabel2MinWidth = 6;
constexpr int kLabel1Left = 532;
// Wide enough for a network address and its reason on one line.
constexpr int kMessageMinWidth = 560;

// Shown without an event loop of its own: `chosen` runs when it closes.
void OpenDialog(QFileDialog* dialog, std::function<void(const QString&)> chosen) {
  auto answered = std::make_shared<bool>(false);
  QObject::connect(dialog, &QFileDialog::fileSelected, dialog, [chosen, answered](const QString& name) {
    *answered = true;
    chosen(name);
  });
  QObject::connect(dialog, &QDialog::finished, dialog, [chosen, answered](int) {
    if (!*answered) chosen(QString());
  });
  dialog->open();
}

void OpenMessageBox(QMessageBox* box) {
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setStyleSheet(QStringLiteral("QLabel { min-width: %1px; }").arg(kMessageMinWidth));
  box->open();
}

}  // namespace

TConDos::TConDos(const TOptions& options, QWidget* parent)
    : TConDos(std::make_unique<TSession>(options), nullptr, options, parent) {}

TConDos::TConDos(TSession& session, const TOptions& options, QWidget* parent)
    : TConDos(nullptr, &session, options, parent) {}

TConDos::TConDos(std::unique_ptr<TSession> own, TSession* session, const TOptions& options,
                 QWidget* parent)
    : QWidget(parent),
      OwnSession(std::move(own)),
      Session(OwnSession ? *OwnSession : *session),
      Pump(Session.Pump),
      Comm(Session.Comm),
      Link(Session.Link),
      Screen(Session.Screen),
      Keyboard(Session.Keyboard),
      Floppy(Session.Floppy),
      Loop(Session.Loop),
      Timer1(Session.Timer1),
      Renderer(display::MakeDisplayFont()),
      MarkerState(Renderer.CellWidth, Renderer.CellHeight, PanelHeight) {
  FormCreate(options);
}

void TConDos::FormCreate(const TOptions& options) {
  setWindowTitle(QString::fromLatin1(kWindowCaption));
  // The window is black wherever the screen image does not cover it; paintEvent
  // fills it, so the controls keep the desktop's own colours.
  setAttribute(Qt::WA_OpaquePaintEvent);

  UseOwnDialogs();

  // The key hook first, so that key messages reach the keyboard before any control.
  KeyHook = std::make_unique<keyboard::TKeyHook>(*this, Keyboard);
  // While a control client holds the keyboard the window's keys reach nobody.
  KeyHook->Accepting = [this] { return Session.LocalMayType(); };
  qApp->installEventFilter(KeyHook.get());

  BuildPanel(options);
  BuildScreenMenu();

  // Sizes follow from the display font's cell; the image sits below the panel.
  Marker->resize(Renderer.CellWidth, display::TCursorMarker::kHeight);
  resize(MarkerState.NaturalWidth(), MarkerState.NaturalHeight());
  Screen.VideoMode = 3;
  Screen.ClearScreen();

  Keyboard.OnStateText = [this](const std::string& text) {
    Label1->setText(QString::fromStdString(text));
    PlaceStatusLabels();
  };
  Session.AddView(this);

  if (!options.Image.empty()) {
    FileName = QString::fromStdString(options.Image);
    EnaFloppy->setChecked(true);
  }
  UpdateFloppyTip();
  if (options.Connect) QTimer::singleShot(0, this, [this] { OpenComClick(); });
}

TConDos::~TConDos() { FormDestroy(); }

void TConDos::UseOwnDialogs() {
  RunOpenDialog = [this](TChosen chosen) {
    const QString start = FileName.isEmpty() ? QStringLiteral(".") : FileName;
    auto* dialog = new QFileDialog(this, QStringLiteral("Floppy Images"), start,
                                   QStringLiteral("*.img;*.ima;;All files (*)"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFile);
    OpenDialog(dialog, std::move(chosen));
  };
  RunSaveDialog = [this](const QString& title, const QString& filter, const QString& proposed, TChosen chosen) {
    auto* dialog = new QFileDialog(this, title, proposed, filter);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    OpenDialog(dialog, std::move(chosen));
  };
  ShowStatistics = [this](const QString& text) {
    OpenMessageBox(new QMessageBox(QMessageBox::Information, QStringLiteral("Link statistics"), text,
                                   QMessageBox::Ok, this));
  };
  RunPortDialog = [this](bool com2) {
    return ChoosePort(this, QString::fromLatin1(com2 ? "COM2" : "COM1"), Session.DeviceFor(com2),
                      comm::ListSerialPorts());
  };
  ShowMessage = [this](const QString& text, const QString& detail) {
    auto* box = new QMessageBox(QMessageBox::Warning, QString::fromLatin1(kMessageTitle), text, QMessageBox::Ok, this);
    if (!detail.isEmpty()) box->setInformativeText(detail);
    OpenMessageBox(box);
  };
}

void TConDos::FormDestroy() {
  Session.RemoveView(this);
  Keyboard.OnStateText = nullptr;
  if (KeyHook) qApp->removeEventFilter(KeyHook.get());
  KeyHook.reset();
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
  Rscr->setFont(display::MakeDisplayFont());
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
  EnaKeyboard->setFont(SmallSansFont());
  EnaKeyboard->setChecked(!options.NoKeyboard);

  EnaVideo = new QCheckBox(QStringLiteral("Video"), Panel);
  EnaVideo->setGeometry(280, 14, 49, 17);
  EnaVideo->setToolTip(QStringLiteral("Enamble Remote Video"));
  EnaVideo->setFont(SmallSansFont());
  EnaVideo->setChecked(!options.NoVideo);

  EnaFloppy = new QCheckBox(QStringLiteral("Floppy..."), Panel);
  EnaFloppy->setGeometry(332, 14, 65, 17);
  EnaFloppy->setToolTip(QStringLiteral("Enable Remote Floppy"));
  EnaFloppy->setFont(SmallSansFont());
  connect(EnaFloppy, &QCheckBox::clicked, this, [this] { EnableFloppyClick(); });

  // Two columns of items inside the group's frame.
  COMGroup = new QGroupBox(Panel);
  COMGroup->setGeometry(400, 2, 122, 32);
  COMGroup->setFont(SmallSansFont());
  Com1Item = new QRadioButton(QStringLiteral("COM1"), COMGroup);
  Com1Item->setGeometry(8, 7, 54, 20);
  Com1Item->setToolTip(QString::fromStdString(options.Com1));
  Com2Item = new QRadioButton(QStringLiteral("COM2"), COMGroup);
  Com2Item->setGeometry(64, 7, 54, 20);
  Com2Item->setToolTip(QString::fromStdString(options.Com2));
  (options.UseCom2 ? Com2Item : Com1Item)->setChecked(true);

  Label1 = new QLabel(QStringLiteral("Label1"), Panel);
  Label1->setGeometry(kLabel1Left, 13, 42, 15);
  Label1->setFont(MonoFont(12));

  Label2 = new QLabel(QStringLiteral("0"), Panel);
  Label2->setFont(SmallSansFont());
  Label2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  Label2->setEnabled(false);

  Log = new QToolButton(Panel);
  Log->setText(QStringLiteral("LOG"));
  Log->setGeometry(752, 27, 29, 14);
  Log->setCheckable(true);
  Log->setAutoRaise(true);
  Log->setFont(SmallSansFont());
  Log->hide();
  connect(Log, &QToolButton::clicked, this, [this] { LogClick(); });

  Marker = new QLabel(this);
  Marker->setGeometry(display::kMarkerLayoutLeft, display::kMarkerLayoutTop, 60, 18);
  Marker->setAutoFillBackground(true);
  QPalette white = Marker->palette();
  white.setColor(QPalette::Window, Qt::white);
  Marker->setPalette(white);

  // The panel stays whole: room for every control and the whole shift-state text.
  const int stateWidth = QFontMetrics(Label1->font()).horizontalAdvance(QString(30, QLatin1Char('M')));
  setMinimumSize(kLabel1Left + stateWidth + 40, PanelHeight + display::TScreen::kRows);
  PlaceStatusLabels();

  setTabOrder(Connect, EnaKeyboard);
  setTabOrder(EnaKeyboard, EnaVideo);
  setTabOrder(EnaVideo, Com1Item);
  setTabOrder(Com1Item, EnaFloppy);
  setTabOrder(EnaFloppy, ButtonDel);
}

// Label2 is right-justified 1 px from the panel's right edge and as wide as its
// text; Label1 (the shift state) grows to its text but never reaches Label2.
void TConDos::PlaceStatusLabels() {
  const int panelWidth = Panel->width();
  // The whole text with the margins the style draws it in, and a pixel or two
  // for glyphs that reach past their advance: the count is never cut.
  const QFontMetrics metrics(Label2->font());
  const int width2 = std::max({kLabel2MinWidth, Label2->sizeHint().width(),
                               metrics.boundingRect(Label2->text()).right() + 1}) +
                     2;
  Label2->setGeometry(panelWidth - 1 - width2, 1, width2, 39);
  const int wanted1 = std::max(42, QFontMetrics(Label1->font()).horizontalAdvance(Label1->text()));
  const int room1 = Label2->x() - 2 - kLabel1Left;
  Label1->setGeometry(kLabel1Left, 13, std::max(0, std::min(wanted1, room1)), 15);
}

void TConDos::StatusChanged(const std::string& text) {
  Label2->setText(QString::fromStdString(text));
  PlaceStatusLabels();
}

void TConDos::Failure(const std::string& text, const std::string& detail) {
  QString shown = QString::fromLocal8Bit(detail.c_str());
  if (text == "Error Opening COM") {
    // What to do next: the port is chosen on the screen's menu.
    shown += QStringLiteral("\nChoose another port: right mouse button, Serial port for %1...")
                 .arg(QString::fromStdString(Session.PortName()));
  }
  ShowMessage(QString::fromStdString(text), shown);
}

void TConDos::Notice(const std::string& text, const std::string& detail) {
  UpdateFloppyTip();
  ShowMessage(QString::fromStdString(text), QString::fromStdString(detail));
}

void TConDos::SetConnectedControls(bool connected) {
  for (QWidget* w : {static_cast<QWidget*>(EnaKeyboard), static_cast<QWidget*>(EnaVideo),
                     static_cast<QWidget*>(EnaFloppy), static_cast<QWidget*>(Connect),
                     static_cast<QWidget*>(COMGroup)}) {
    w->setEnabled(!connected);
  }
  Disconnect->setEnabled(connected);
}

void TConDos::ConnectionChanged(bool connected) {
  SetConnectedControls(connected);
  UpdateFloppyTip();
  if (connected) setFocus();
}

void TConDos::OpenComClick() {
  TConnectChoice choice;
  choice.Keyboard = EnaKeyboard->isChecked();
  choice.Video = EnaVideo->isChecked();
  choice.Floppy = EnaFloppy->isChecked();
  choice.ImageFile = FileName.toStdString();
  choice.UseCom2 = Com2Item->isChecked();
  Session.Connect(choice);
}

void TConDos::CloseComClick() { Session.Disconnect(); }

void TConDos::ChooseSerialPort(bool com2) {
  if (PortFixed()) return;
  const auto device = RunPortDialog(com2);
  if (!device) return;
  Session.SetDevice(com2, *device);
  (com2 ? Com2Item : Com1Item)->setToolTip(QString::fromStdString(*device));
}

void TConDos::LoopEnded() {
  if (CloseWhenLoopEnds) QTimer::singleShot(0, this, [this] { close(); });
}

void TConDos::WriterChanged() {
  // The title tells whether the keys typed here reach the board.
  QString title = QString::fromLatin1(kWindowCaption);
  if (Session.Writer() == TWriterKind::Client) title += QStringLiteral(" - view (a control client has the keyboard)");
  setWindowTitle(title);
}

void TConDos::closeEvent(QCloseEvent* event) { FormClose(event); }

void TConDos::FormClose(QCloseEvent* event) {
  CloseComClick();
  if (Session.Running()) {
    // The service loop still has to unwind out of the Connect handler; the window
    // closes as soon as it has.
    CloseWhenLoopEnds = true;
    event->ignore();
    return;
  }
  event->accept();
}

void TConDos::Timer1Timer() { Session.Tick(); }

void TConDos::SlowTick() {
  ButtonDel->setVisible(Keyboard.DelButtonWanted());
  UpdateFloppyTip();
  // The status label's tool tip: what the link did during this connection.
  Label2->setToolTip(QString::fromStdString(FormatStats(Session.Stats.Counts)));
}

void TConDos::LogClick() { Floppy.DiskLog = Log->isChecked() ? 1 : 0; }

void TConDos::ButtonDelClick() {
  if (Session.LocalMayType()) Keyboard.ButtonDelClick();
}

void TConDos::EnableFloppyClick() {
  if (!EnaFloppy->isChecked()) return;  // unticking keeps the chosen name
  RunOpenDialog([this](const QString& chosen) {
    if (chosen.isEmpty()) {
      EnaFloppy->setChecked(false);
      return;
    }
    FileName = chosen;
  });
}

QRect TConDos::ImageRect() const {
  if (!MarkerState.Stretched()) {
    return QRect(0, PanelHeight, Renderer.ScreenBitmap.width(), Renderer.ScreenBitmap.height());
  }
  return QRect(0, PanelHeight, width(), height() - PanelHeight);
}

void TConDos::ScreenRefresh() {
  const bool dirty = Screen.ScreenDirty != 0;
  Screen.ScreenDirty = 0;
  DrawScreen(dirty);
}

void TConDos::Refresh(bool screenDirty) { DrawScreen(screenDirty); }

void TConDos::DrawScreen(bool screenDirty) {
  if (screenDirty) {
    // Pending messages are processed after each row, but no user input: a click
    // handled in here would start the service loop inside the timer's handler.
    Renderer.DrawChanged(Screen, [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
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

void TConDos::paintEvent(QPaintEvent*) { FormPaint(); }

// A repaint puts the kept image on the window; the image is always complete, so
// no cell needs drawing for it (setting ScreenDirty here would keep the marker
// from ever blinking, as our own update() after each refresh comes back as a paint).
void TConDos::FormPaint() {
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
  if (!Selection.Empty()) {
    // The chosen cells in inverse video.
    painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    painter.fillRect(CellsRect(Selection.Cells()), Qt::white);
  }
}

void TConDos::resizeEvent(QResizeEvent*) { FormResize(); }

void TConDos::FormResize() {
  Panel->setGeometry(0, 0, width(), PanelHeight);
  PlaceStatusLabels();
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
  keyboard::SyncHeldKeysFromSystem(Keyboard);
  keyboard::SyncLocksFromSystem(Keyboard);
}

void TConDos::BuildScreenMenu() {
  const auto connected = [this] { return Session.Connected(); };
  const auto disconnected = [this] { return !PortFixed(); };
  ScreenMenu = {
      {"Copy", [this] { CopySelection(); }, {}, [this] { return !Selection.Empty(); }, false, {}},
      {"Copy screen text", [this] { CopyScreenText(); }, {}, {}, false, {}},
      {"Save screenshot...", [this] { SaveScreenshot(); }, {}, {}, false, {}},
      {"Save screen text...", [this] { SaveScreenText(); }, {}, {}, false, {}},
      {"Paste text as keys", [this] { PasteAsKeys(); }, {}, connected, true, {}},
      // Where Alt+drag moves windows, the Del button cannot be clicked with Ctrl and Alt held.
      {"Send Ctrl+Alt+Del", [this] { Session.SendCtrlAltDel(); }, {}, connected, false, {}},
      {"Full BIOS key codes", [this] { ToggleFullKeys(); }, [this] { return Session.FullKeys(); }, {}, false, {}},
      {"Change floppy image...", [this] { ChangeFloppyImage(); }, {}, {}, true, {}},
      {"Write-protect image", [this] { ToggleWriteProtect(); }, [this] { return Session.WriteProtected(); }, {},
       false, {}},
      {"Link statistics...",
       [this] { ShowStatistics(QString::fromStdString(FormatStats(Session.Stats.Counts))); }, {}, {}, true, {}},
      // The port is fixed while connected, as the COM items are.
      {"Serial port for COM1...", [this] { ChooseSerialPort(false); }, {}, {}, true, disconnected},
      {"Serial port for COM2...", [this] { ChooseSerialPort(true); }, {}, {}, false, disconnected},
  };
}

QMenu* TConDos::MakeScreenMenu() {
  auto* menu = new QMenu(this);
  for (const TMenuEntry& entry : ScreenMenu) {
    if (entry.Shown && !entry.Shown()) continue;
    if (entry.SeparatorBefore) menu->addSeparator();
    QAction* action = menu->addAction(QString::fromStdString(entry.Text));
    if (entry.Checked) {
      action->setCheckable(true);
      action->setChecked(entry.Checked());
    }
    if (entry.Enabled) action->setEnabled(entry.Enabled());
    const auto run = entry.Run;
    connect(action, &QAction::triggered, this, [run] {
      if (run) run();
    });
  }
  return menu;
}

void TConDos::contextMenuEvent(QContextMenuEvent* event) {
  // On the screen image only; the panel's controls keep their own menus.
  if (event->pos().y() < PanelHeight) {
    QWidget::contextMenuEvent(event);
    return;
  }
  QMenu* menu = MakeScreenMenu();
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(event->globalPos());
  event->accept();
}

void TConDos::CopyScreenText() {
  QGuiApplication::clipboard()->setText(QString::fromStdString(display::ScreenText(Screen)));
}

bool TConDos::SaveFile(const QString& name, const QByteArray& bytes, QString& error) {
  // Written beside the target and renamed over it: a failure leaves no half file.
  QSaveFile file(name);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
    error = file.errorString();
    file.cancelWriting();
    return false;
  }
  return true;
}

QString TConDos::ProposedName(const QString& extension) {
  return QDateTime::currentDateTime().toString(QStringLiteral("'screen-'yyyy-MM-dd-HHmm")) + extension;
}

void TConDos::SaveScreenAs(const QString& title, const QString& filter, const QString& extension,
                           std::function<QByteArray(QString& error)> bytes, const QString& failure) {
  RunSaveDialog(title, filter, ProposedName(extension), [this, extension, bytes, failure](const QString& chosen) {
    if (chosen.isEmpty()) return;
    // A name typed without the extension gets it.
    const QString name = QFileInfo(chosen).suffix().isEmpty() ? chosen + extension : chosen;
    QString error;
    const QByteArray data = bytes(error);
    if (!error.isEmpty()) {
      ShowMessage(failure, error);
    } else if (!SaveFile(name, data, error)) {
      ShowMessage(failure, name + QStringLiteral(": ") + error);
    }
  });
}

void TConDos::SaveScreenshot() {
  SaveScreenAs(
      QStringLiteral("Save screenshot"), QStringLiteral("PNG images (*.png)"), QStringLiteral(".png"),
      [this](QString& error) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        if (!Renderer.Screenshot(Screen).save(&buffer, "PNG")) error = QStringLiteral("PNG encoding failed");
        return png;
      },
      QStringLiteral("The screenshot cannot be saved"));
}

void TConDos::SaveScreenText() {
  SaveScreenAs(
      QStringLiteral("Save screen text"), QStringLiteral("Text files (*.txt)"), QStringLiteral(".txt"),
      [this](QString&) {
        const std::string text = display::ScreenText(Screen);
        return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
      },
      QStringLiteral("The screen text cannot be saved"));
}

void TConDos::CopySelection() {
  if (Selection.Empty()) return;
  const auto c = Selection.Cells();
  QGuiApplication::clipboard()->setText(
      QString::fromStdString(display::ScreenText(Screen, c.Left, c.Top, c.Right, c.Bottom)));
}

QPoint TConDos::CellAt(const QPoint& pos) const {
  const QRect image = ImageRect();
  const int col = (pos.x() - image.left()) * display::TScreen::kCols / std::max(1, image.width());
  const int row = (pos.y() - image.top()) * display::TScreen::kRows / std::max(1, image.height());
  return {std::clamp(col, 0, display::TScreen::kCols - 1), std::clamp(row, 0, display::TScreen::kRows - 1)};
}

QRect TConDos::CellsRect(const TScreenSelection::TCells& cells) const {
  const QRect image = ImageRect();
  const auto x = [&](int col) { return image.left() + col * image.width() / display::TScreen::kCols; };
  const auto y = [&](int row) { return image.top() + row * image.height() / display::TScreen::kRows; };
  return QRect(QPoint(x(cells.Left), y(cells.Top)), QPoint(x(cells.Right + 1) - 1, y(cells.Bottom + 1) - 1));
}

void TConDos::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || event->pos().y() < PanelHeight) {
    QWidget::mousePressEvent(event);
    return;
  }
  if (!Selection.Empty()) update(CellsRect(Selection.Cells()));
  const QPoint cell = CellAt(event->pos());
  Selection.Start(cell.x(), cell.y());
  event->accept();
}

void TConDos::mouseMoveEvent(QMouseEvent* event) {
  if ((event->buttons() & Qt::LeftButton) == 0) return;
  const QRect before = Selection.Empty() ? QRect() : CellsRect(Selection.Cells());
  const QPoint cell = CellAt(event->pos());
  if (Selection.Extend(cell.x(), cell.y())) update(before.united(CellsRect(Selection.Cells())));
}

void TConDos::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  Selection.End();
  if (Selection.Empty()) return;
  // As in every X terminal: what is selected is the primary selection too.
  const auto c = Selection.Cells();
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (clipboard->supportsSelection()) {
    clipboard->setText(QString::fromStdString(display::ScreenText(Screen, c.Left, c.Top, c.Right, c.Bottom)),
                       QClipboard::Selection);
  }
}

void TConDos::PasteAsKeys() {
  const QString text = QGuiApplication::clipboard()->text();
  if (!text.isEmpty() && Session.LocalMayType()) Session.PasteText(text.toStdString());
}

void TConDos::ChangeFloppyImage() {
  RunOpenDialog([this](const QString& chosen) {
    if (chosen.isEmpty()) return;
    // As the Floppy... dialog does: the image for the next Connect; connected,
    // it goes into service after the board's current request.
    FileName = chosen;
    EnaFloppy->setChecked(true);
    Session.ChangeImage(chosen.toStdString());
    UpdateFloppyTip();
  });
}

void TConDos::ToggleWriteProtect() {
  Session.SetWriteProtect(!Session.WriteProtected());
  UpdateFloppyTip();
}

void TConDos::ToggleFullKeys() { Session.SetFullKeys(!Session.FullKeys()); }

void TConDos::UpdateFloppyTip() {
  floppy::TImageStatus status = Floppy.Status();
  QString tip = QStringLiteral("Enable Remote Floppy\n") + QString::fromStdString(FloppyToolTipLines(status));
  if (status.Name.empty() && !FileName.isEmpty()) tip += QStringLiteral("\nChosen: ") + FileName;
  if (Session.WriteProtected()) tip += QStringLiteral("\nWrite protection on");
  if (EnaFloppy->toolTip() != tip) EnaFloppy->setToolTip(tip);
}

}  // namespace app
