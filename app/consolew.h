// The main window: the tool panel with Connect/Disconnect, the service options,
// the port choice and the status labels, and below it the board's text screen.
#pragma once

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QToolButton>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

#include "app/options.h"
#include "app/qt_pump.h"
#include "app/service_loop.h"
#include "app/status_sink.h"
#include "comm/comm.h"
#include "display/cursor_marker.h"
#include "display/renderer.h"
#include "display/screen.h"
#include "floppy/disk_service.h"
#include "floppy/floppy_image.h"
#include "keyboard/key_hook.h"
#include "keyboard/keyboard.h"
#include "link/link.h"

namespace app {

inline constexpr const char* kWindowCaption = "Remote console Nerova V1.01 for Windows";
inline constexpr const char* kMessageTitle = "ConsoleW";

class TConDos : public QWidget, private IStatusSink {
 public:
  explicit TConDos(const TOptions& options, QWidget* parent = nullptr);
  ~TConDos() override;

  // Event handlers, named after their control.
  void OpenComClick();
  void CloseComClick();
  void Timer1Timer();
  void EnableFloppyClick();
  void LogClick();
  void ButtonDelClick();
  void CommError();
  void CommBreak();
  void ScreenRefresh();

  bool Running() const { return LoopRunning; }
  uint16_t OptionBits() const { return Loop.OptionBits; }
  QString ImageFileName() const { return FileName; }
  void SetImageFileName(const QString& name) { FileName = name; }

  // Replaceable for tests: the file dialog (empty result: cancelled) and the
  // message box (text, detail).
  std::function<std::optional<QString>()> RunOpenDialog;
  std::function<void(const QString&, const QString&)> ShowMessage;

  // The core, owned for the whole run.
  TQtMessagePump Pump;
  comm::TComm Comm;
  wire::TLink Link{Comm, Pump};
  display::TScreen Screen;
  keyboard::TKeyboard Keyboard;
  floppy::TFloppy Floppy{Screen};
  TServiceLoop Loop{Link, Screen, *this};

  // Drawing.
  int PanelHeight = 41;
  display::TScreenRenderer Renderer;
  display::TCursorMarker MarkerState;
  uint32_t TickDivider = 0;

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
  QTimer Timer1;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void ShowStatus(const char* text) override;
  void BuildPanel(const TOptions& options);
  void SetConnectedControls(bool connected);
  void FormActivate();
  void FormResize();
  void ApplyMarker();
  QRect ImageRect() const;

  std::unique_ptr<keyboard::TKeyHook> KeyHook;
  QString FileName;
  bool LoopRunning = false;
  bool CloseWhenLoopEnds = false;
  bool PortLostShown = false;
};

}  // namespace app
