// The control protocol on a Unix domain socket (--control PATH): JSON lines,
// any number of clients at once, each a connection of the control hub. The
// socket file is made with mode 0600 (or the mode asked for), in a folder that
// must exist; a socket file left by a console that has died is replaced, one
// a live console listens on is refused. A line over 64 KiB is answered with an
// error and ends that connection. The file is removed when the console ends.
#pragma once

#include <QLocalSocket>
#include <QSocketNotifier>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "frontends/control_hub.h"

namespace app {

class TControlSocket {
 public:
  // Clients of a read-only socket can never take the keyboard.
  TControlSocket(TControlHub& hub, bool readOnly);
  ~TControlSocket();
  TControlSocket(const TControlSocket&) = delete;
  TControlSocket& operator=(const TControlSocket&) = delete;

  // Listens at `path` with file mode `mode`; false with `error` (the reason,
  // without the path) when it cannot.
  bool Listen(const std::string& path, unsigned mode, std::string& error);
  const std::string& Path() const { return Path_; }
  size_t Connections() const { return Live.size(); }

 private:
  class TConnection;
  void Accept();
  // The connection has gone: freed once the event loop is back.
  void Bury(TConnection* connection);

  TControlHub& Hub;
  bool ReadOnly;
  std::string Path_;
  int Fd = -1;
  std::unique_ptr<QSocketNotifier> Notifier;
  std::vector<std::unique_ptr<TConnection>> Live;
  std::vector<std::unique_ptr<TConnection>> Dead;
  QTimer Reaper;
  uint64_t Accepted = 0;
};

}  // namespace app
