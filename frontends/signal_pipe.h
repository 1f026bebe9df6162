// Signals as events of the window thread: the handler only writes the signal's
// number into a pipe, which the event loop watches.
#pragma once

#include <QSocketNotifier>
#include <functional>
#include <initializer_list>
#include <memory>

namespace app {

class TSignalPipe {
 public:
  // Catches `signalNumbers` until destroyed; `onSignal` runs on the window thread.
  TSignalPipe(std::initializer_list<int> signalNumbers, std::function<void(int)> onSignal);
  ~TSignalPipe();
  TSignalPipe(const TSignalPipe&) = delete;
  TSignalPipe& operator=(const TSignalPipe&) = delete;

 private:
  std::function<void(int)> OnSignal;
  std::unique_ptr<QSocketNotifier> Notifier;
  int ReadFd = -1;
};

}  // namespace app
