#include "keyboard/key_hook.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWindow>

#include "keyboard/key_adapter.h"

namespace keyboard {

TKeyHook::TKeyHook(QWidget& mainWindow, TKeyboard& kbd, QObject* parent)
    : QObject(parent), MainWindow(&mainWindow), Kbd(kbd) {}

bool TKeyHook::AimedAtMainWindow(QObject* receiver) const {
  if (MainWindow.isNull() || receiver == nullptr) return false;
  const QWidget* modal = QApplication::activeModalWidget();
  if (modal != nullptr && modal != MainWindow) return false;
  if (QApplication::activePopupWidget() != nullptr) return false;
  if (receiver->isWindowType()) {
    return MainWindow->windowHandle() != nullptr &&
           static_cast<QWindow*>(receiver) == MainWindow->windowHandle();
  }
  if (receiver->isWidgetType()) return static_cast<QWidget*>(receiver)->window() == MainWindow;
  return false;
}

bool TKeyHook::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::ShortcutOverride) {
    return false;
  }
  if (!AimedAtMainWindow(watched)) return false;
  if (type == QEvent::ShortcutOverride) {
    // Claim the key so that no shortcut or mnemonic fires for it.
    event->accept();
    return true;
  }
  // The same keystroke passes the window, the focus widget and its parents:
  // act on the window's copy only, swallow all of them.
  if (watched->isWindowType() && (!Accepting || Accepting())) {
    if (const auto msg = TranslateKeyEvent(*static_cast<QKeyEvent*>(event))) {
      bool handled = false;
      Kbd.AppMessage(msg->Message, msg->WParam, msg->LParam, handled);
    }
  }
  return true;
}

}  // namespace keyboard
