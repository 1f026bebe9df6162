// The application-wide key hook: every key aimed at the main window reaches
// the keyboard core exactly once and no control of the window sees it.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>

#include "keyboard/keyboard.h"

namespace keyboard {

class TKeyHook : public QObject {
 public:
  // Install with QCoreApplication::installEventFilter(hook).
  TKeyHook(QWidget& mainWindow, TKeyboard& kbd, QObject* parent = nullptr);

  bool eventFilter(QObject* watched, QEvent* event) override;

  // Whether the keys go to the keyboard core now (unset: always); refused keys
  // are swallowed all the same.
  std::function<bool()> Accepting;

 private:
  // True when the event's receiver belongs to the main window and no modal
  // dialog or popup is taking the keys.
  bool AimedAtMainWindow(QObject* receiver) const;

  QPointer<QWidget> MainWindow;
  TKeyboard& Kbd;
};

}  // namespace keyboard
