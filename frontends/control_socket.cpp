#include "frontends/control_socket.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QJsonDocument>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace app {

// One client on the socket: splits its bytes into lines (bounded) for the hub
// and writes the hub's messages, a line each.
class TControlSocket::TConnection : public IControlTransport {
 public:
  TConnection(TControlSocket& owner, int fd, std::string name) : Owner(owner) {
    Socket.setSocketDescriptor(fd);
    Client = Owner.Hub.Open(*this, !Owner.ReadOnly, std::move(name));
    QObject::connect(&Socket, &QLocalSocket::readyRead, [this] { Read(); });
    QObject::connect(&Socket, &QLocalSocket::disconnected, [this] { Gone(); });
    QObject::connect(&Socket, &QLocalSocket::errorOccurred, [this](QLocalSocket::LocalSocketError e) {
      if (e != QLocalSocket::SocketTimeoutError) Gone();
    });
  }
  ~TConnection() override {
    QObject::disconnect(&Socket, nullptr, nullptr, nullptr);
    if (Client != nullptr) Owner.Hub.Closed(Client);
    Socket.abort();
  }

  void Send(const std::string& message) override {
    if (Closing) return;
    std::string line = message;
    line += '\n';
    Socket.write(line.data(), static_cast<qint64>(line.size()));
  }
  size_t Pending() const override { return static_cast<size_t>(std::max<qint64>(0, Socket.bytesToWrite())); }
  void Close(const std::string& /*why*/) override {
    // The hub has let go of the client already.
    Client = nullptr;
    End();
  }

 private:
  void Read() {
    while (!Closing && Socket.bytesAvailable() > 0) {
      const QByteArray bytes = Socket.readAll();
      Buffer.append(bytes.constData(), static_cast<size_t>(bytes.size()));
      size_t start = 0;
      for (size_t nl = Buffer.find('\n'); nl != std::string::npos && !Closing; nl = Buffer.find('\n', start)) {
        std::string_view line(Buffer.data() + start, nl - start);
        start = nl + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.size() > TControlHub::kMaxMessage) return TooLong();
        if (line.find_first_not_of(" \t") == std::string_view::npos) continue;  // an empty line
        Owner.Hub.Receive(Client, line);
      }
      if (Closing) return;
      Buffer.erase(0, start);
      if (Buffer.size() > TControlHub::kMaxMessage) return TooLong();
    }
  }
  void TooLong() {
    // The rest of that line cannot be told from the next request: the connection ends.
    Send(QJsonDocument(TControlHub::Error("line too long")).toJson(QJsonDocument::Compact).toStdString());
    if (Client != nullptr) Owner.Hub.Closed(Client);
    Client = nullptr;
    End();
  }
  void Gone() {
    if (Client != nullptr) Owner.Hub.Closed(Client);
    Client = nullptr;
    End();
  }
  void End() {
    if (Closing) return;
    Closing = true;
    Buffer.clear();
    // What is queued still goes out (an error's answer), unless the client is
    // the one that reads nothing.
    if (Pending() > TControlHub::kMaxPending) {
      Socket.abort();
    } else {
      Socket.disconnectFromServer();
    }
    Owner.Bury(this);
  }

  TControlSocket& Owner;
  QLocalSocket Socket;
  TControlClient* Client = nullptr;
  std::string Buffer;
  bool Closing = false;
};

TControlSocket::TControlSocket(TControlHub& hub, bool readOnly) : Hub(hub), ReadOnly(readOnly) {
  Reaper.setSingleShot(true);
  Reaper.setInterval(0);
  QObject::connect(&Reaper, &QTimer::timeout, [this] { Dead.clear(); });
}

TControlSocket::~TControlSocket() {
  Notifier.reset();
  Live.clear();
  Dead.clear();
  if (Fd >= 0) {
    ::close(Fd);
    ::unlink(Path_.c_str());
  }
}

namespace {

std::string Errno(int e) { return std::strerror(e); }

// Whether a console listens at `path` now.
bool Answers(const sockaddr_un& addr) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool live = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) == 0;
  ::close(fd);
  return live;
}

}  // namespace

bool TControlSocket::Listen(const std::string& path, unsigned mode, std::string& error) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof(addr.sun_path)) {
    error = "the path must be 1 to " + std::to_string(sizeof(addr.sun_path) - 1) + " bytes long";
    return false;
  }
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);

  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      error = "exists and is not a socket";
      return false;
    }
    if (Answers(addr)) {
      error = "another console listens there (stop it, or choose another path)";
      return false;
    }
    ::unlink(path.c_str());  // left by a console that has died
  }

  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    error = Errno(errno);
    return false;
  }
  // Made with no access for others from the first moment, then opened to the mode asked for.
  const mode_t old = ::umask(0177);
  const int bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr));
  const int bindErrno = errno;
  ::umask(old);
  if (bound != 0) {
    error = bindErrno == ENOENT ? "its folder does not exist" : Errno(bindErrno);
    ::close(fd);
    return false;
  }
  if (::chmod(path.c_str(), static_cast<mode_t>(mode)) != 0 || ::listen(fd, SOMAXCONN) != 0) {
    error = Errno(errno);
    ::close(fd);
    ::unlink(path.c_str());
    return false;
  }
  Fd = fd;
  Path_ = path;
  Notifier = std::make_unique<QSocketNotifier>(Fd, QSocketNotifier::Read);
  QObject::connect(Notifier.get(), &QSocketNotifier::activated, [this] { Accept(); });
  return true;
}

void TControlSocket::Accept() {
  for (;;) {
    const int fd = ::accept4(Fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;  // EAGAIN: all taken; anything else: tried again at the next one
    ++Accepted;
    Live.push_back(std::make_unique<TConnection>(*this, fd, (ReadOnly ? "read-only socket " : "socket ") +
                                                                std::to_string(Accepted)));
  }
}

void TControlSocket::Bury(TConnection* connection) {
  const auto it = std::find_if(Live.begin(), Live.end(), [connection](const auto& c) { return c.get() == connection; });
  if (it == Live.end()) return;
  Dead.push_back(std::move(*it));
  Live.erase(it);
  Reaper.start();
}

}  // namespace app
