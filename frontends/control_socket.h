// The control protocol on a Unix domain socket (--control PATH): JSON lines,
// any number of clients at once, each a connection of the control hub. The
// socket file is made with mode 0600 (or the mode asked for), in a folder that
// must exist; a socket file left by a console that has died is replaced, one
// a live console listens on is refused. A line over 64 KiB is answered with an
// error and ends that connection. The file is removed when the console ends.
//
// The listening socket and every connection sit in one epoll set, and the
// event loop watches that one descriptor: the service loop, which turns the
// event loop at every exchange with the board, does not poll one more
// descriptor per client.
#pragma once

#include <QSocketNotifier>
#include <QTimer>
#include <map>
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
  void Events();
  void Accept();
  // The connection has gone: its descriptor closed now, the object freed
  // once the event loop is back.
  void Bury(TConnection* connection);
  void Watch(int fd, bool writable, bool readable);

  TControlHub& Hub;
  bool ReadOnly;
  std::string Path_;
  int Fd = -1;
  int Epoll = -1;
  std::unique_ptr<QSocketNotifier> Notifier;
  std::map<int, std::unique_ptr<TConnection>> Live;  // by descriptor
  std::vector<std::unique_ptr<TConnection>> Dead;
  QTimer Reaper;
  uint64_t Accepted = 0;
};

}  // namespace app
