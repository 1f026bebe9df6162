// The main window: the tool panel with Connect/Disconnect, the service options,
// the port choice and the status labels, and below it the board's text screen.
#pragma once

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QToolButton>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

#include "app/options.h"
#include "app/screen_menu.h"
#include "app/screen_selection.h"
#include "comm/comm.h"
#include "display/cursor_marker.h"
#include "display/renderer.h"
#include "display/screen.h"
#include "floppy/disk_service.h"
#include "floppy/floppy_image.h"
#include "keyboard/key_hook.h"
#include "keyboard/keyboard.h"
#include "link/link.h"
#include "session/qt_pump.h"
#include "session/service_loop.h"
#include "session/session.h"

namespace app {

inline constexpr const char* kWindowCaption = "Remote console Nerova V1.01 for Windows";
inline constexpr const char* kMessageTitle = "ConsoleW";

// The window front-end of a session: the tool panel and the board's screen.
class TConDos : public QWidget, private ISessionView {
 public:
  // A window with a session of its own, built from the options.
  explicit TConDos(const TOptions& options, QWidget* parent = nullptr);
  // A window on a session that others may watch too (the pty, the log).
  TConDos(TSession& session, const TOptions& options, QWidget* parent = nullptr);
  ~TConDos() override;
  TConDos(const TConDos&) = delete;
  TConDos& operator=(const TConDos&) = delete;

  // Event handlers, named after their control.
  void FormCreate(const TOptions& options);
  void FormPaint();
  void FormClose(QCloseEvent* event);
  void FormDestroy();
  void FormActivate();
  void FormResize();
  void OpenComClick();
  void CloseComClick();
  void Timer1Timer();
  void EnableFloppyClick();
  void LogClick();
  void ButtonDelClick();
  void ScreenRefresh();
  // "Serial port for COM1..." / "COM2...": the device (or network address)
  // behind the item, chosen while disconnected; its tool tip shows the choice.
  void ChooseSerialPort(bool com2);
  // The port is fixed while connected (or connecting), as the COM items are.
  bool PortFixed() const { return Session.Connected() || Session.Running(); }

  // The screen image's menu and its commands.
  void CopyScreenText();
  void SaveScreenshot();
  void SaveScreenText();
  void PasteAsKeys();
  void ChangeFloppyImage();
  void ToggleWriteProtect();
  void ToggleFullKeys();
  // A menu built from ScreenMenu (the caller owns it).
  QMenu* MakeScreenMenu();
  // The Floppy... box's tool tip: its hint and the image in service.
  void UpdateFloppyTip();

  bool Running() const { return Session.Running(); }
  uint16_t OptionBits() const { return Loop.OptionBits; }
  QString ImageFileName() const { return FileName; }
  void SetImageFileName(const QString& name) { FileName = name; }

  // A file dialog's answer: the name chosen, or an empty string when cancelled.
  using TChosen = std::function<void(const QString&)>;
  // The dialogs, replaceable for tests. None has an event loop of its own:
  // each is shown and answers later, so the board goes on being served while
  // one is open. The floppy image dialog; the message box (text, detail).
  std::function<void(TChosen)> RunOpenDialog;
  std::function<void(const QString&, const QString&)> ShowMessage;
  // Shows the link statistics (a text of several lines).
  std::function<void(const QString&)> ShowStatistics;
  // The port chooser (nothing: cancelled); offered only while disconnected.
  std::function<std::optional<std::string>(bool com2)> RunPortDialog;
  // The save dialog (title, filter, proposed name, answer).
  std::function<void(const QString&, const QString&, const QString&, TChosen)> RunSaveDialog;
  // Sets the five above to the window's own dialogs, as at the start.
  void UseOwnDialogs();
  // The name a save dialog proposes: "screen-2026-12-09-1752.png" (local time).
  static QString ProposedName(const QString& extension);

  // The cells chosen with the mouse, and their text ("Copy").
  TScreenSelection Selection;
  void CopySelection();

  // The entries of the screen image's menu, in order.
  TMenuTable ScreenMenu;

 private:
  std::unique_ptr<TSession> OwnSession;  // before the references below

 public:
  // The session and its core, for the whole run.
  TSession& Session;
  TQtMessagePump& Pump;
  comm::TComm& Comm;
  wire::TLink& Link;
  display::TScreen& Screen;
  keyboard::TKeyboard& Keyboard;
  floppy::TFloppy& Floppy;
  TServiceLoop& Loop;
  QTimer& Timer1;

  // Drawing.
  int PanelHeight = 41;
  display::TScreenRenderer Renderer;
  display::TCursorMarker MarkerState;

  // Controls.
  QWidget* Panel = nullptr;
  QPushButton* Connect = nullptr;
  QToolButton* Disconnect = nullptr;
  QToolButton* Rscr = nullptr;
  QPushButton* ButtonDel = nullptr;
  QCheckBox* EnaKeyboard = nullptr;
  QCheckBox* EnaVideo = nullptr;
  QCheckBox* EnaFloppy = nullptr;
  QGroupBox* COMGroup = nullptr;
  QRadioButton* Com1Item = nullptr;
  QRadioButton* Com2Item = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QToolButton* Log = nullptr;
  QLabel* Marker = nullptr;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  bool event(QEvent* event) override;

 private:
  // ISessionView
  void Refresh(bool screenDirty) override;
  void StatusChanged(const std::string& text) override;
  void SlowTick() override;
  void ConnectionChanged(bool connected) override;
  void Failure(const std::string& text, const std::string& detail) override;
  void Notice(const std::string& text, const std::string& detail) override;
  void LoopEnded() override;
  void WriterChanged() override;
  bool RefreshWanted() const override { return Rscr->isChecked(); }

  TConDos(std::unique_ptr<TSession> own, TSession* session, const TOptions& options, QWidget* parent);

  void BuildPanel(const TOptions& options);
  void BuildScreenMenu();
  // Writes `bytes` to `name` whole or not at all; false (with the reason) on failure.
  bool SaveFile(const QString& name, const QByteArray& bytes, QString& error);
  void PlaceStatusLabels();
  void SetConnectedControls(bool connected);
  void DrawScreen(bool screenDirty);
  void ApplyMarker();
  QRect ImageRect() const;
  // The cell under a point of the window (clipped to the page).
  QPoint CellAt(const QPoint& pos) const;
  // The pixels of a rectangle of cells on the window.
  QRect CellsRect(const TScreenSelection::TCells& cells) const;
  // Saves what `bytes` makes of the screen under a name the user chooses.
  void SaveScreenAs(const QString& title, const QString& filter, const QString& extension,
                    std::function<QByteArray(QString& error)> bytes, const QString& failure);

  std::unique_ptr<keyboard::TKeyHook> KeyHook;
  QString FileName;
  bool CloseWhenLoopEnds = false;
};

}  // namespace app
