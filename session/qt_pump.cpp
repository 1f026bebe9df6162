#include "session/qt_pump.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace app {

void TQtMessagePump::ProcessPending() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void TQtMessagePump::WaitForEvents() {
  // Returns after at least one event was handled: a serial hand-over, the 100 ms
  // tick or a click.
  QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

}  // namespace app
