#include "frontends/control_socket.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QJsonDocument>
#include <array>
#include <cerrno>
#include <cstring>

namespace app {

namespace {

constexpr size_t kReadChunk = 16 * 1024;
// Read from one client per turn of the event loop at most: one that writes
// without pause leaves the board and the other clients their turns.
constexpr size_t kReadPerTurn = 4 * kReadChunk;
constexpr int kMaxEvents = 64;

std::string Errno(int e) { return std::strerror(e); }

// Whether a console listens at the address now.
bool Answers(const sockaddr_un& addr) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool live = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) == 0;
  ::close(fd);
  return live;
}

}  // namespace

// One client on the socket: splits its bytes into lines (bounded) for the hub
// and writes the hub's messages, a line each, as fast as the client reads.
class TControlSocket::TConnection : public IControlTransport {
 public:
  TConnection(TControlSocket& owner, int fd, std::string name) : Owner(owner), Fd(fd) {
    Client = Owner.Hub.Open(*this, !Owner.ReadOnly, std::move(name));
  }
  ~TConnection() override {
    if (Client != nullptr) Owner.Hub.Closed(Client);
    if (Fd >= 0) ::close(Fd);
  }
  TConnection(const TConnection&) = delete;
  TConnection& operator=(const TConnection&) = delete;

  void Send(const std::string& message) override {
    if (Closing) return;
    const bool wasEmpty = Out.empty();
    Out += message;
    Out += '\n';
    if (wasEmpty) Flush();
    if (InputEnded) EndWhenDone();
  }
  size_t Pending() const override { return Out.size(); }
  void Close(const std::string& /*why*/) override {
    Client = nullptr;  // the hub has let go of the client already
    End();
  }

  // The descriptor is readable (or hung up); what is left is read at the next turn.
  void Readable() {
    std::array<char, kReadChunk> chunk{};
    for (size_t taken = 0; !Closing && taken < kReadPerTurn; taken += chunk.size()) {
      const ssize_t n = ::read(Fd, chunk.data(), chunk.size());
      if (n > 0) {
        In.append(chunk.data(), static_cast<size_t>(n));
        Lines();
        continue;
      }
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
      if (n < 0) return Gone();
      // The client has sent its last request (`socat` after its input ends):
      // the answers still owed go out, then the connection ends.
      InputEnded = true;
      In.clear();
      Owner.Watch(Fd, Watching, false);
      return EndWhenDone();
    }
  }
  // The client has hung up entirely.
  void HungUp() { Gone(); }
  // The descriptor takes more output.
  void Writable() { Flush(); }

 private:
  void Lines() {
    size_t start = 0;
    for (size_t nl = In.find('\n'); nl != std::string::npos && !Closing; nl = In.find('\n', start)) {
      std::string_view line(In.data() + start, nl - start);
      start = nl + 1;
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (line.size() > TControlHub::kMaxMessage) return TooLong();
      if (line.find_first_not_of(" \t") == std::string_view::npos) continue;  // an empty line
      Owner.Hub.Receive(Client, line);
    }
    if (Closing) return;
    In.erase(0, start);
    if (In.size() > TControlHub::kMaxMessage) TooLong();
  }
  void Flush() {
    while (!Out.empty()) {
      const ssize_t n = ::send(Fd, Out.data(), Out.size(), MSG_NOSIGNAL);
      if (n > 0) {
        Out.erase(0, static_cast<size_t>(n));
        continue;
      }
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) break;
      if (!Closing) Gone();  // the client has gone: what it did not read is dropped
      return;
    }
    const bool wantWrite = !Out.empty();
    if (wantWrite != Watching && !Closing) {
      Watching = wantWrite;
      Owner.Watch(Fd, wantWrite, !InputEnded);
    }
    if (InputEnded && Out.empty()) EndWhenDone();
  }
  void EndWhenDone() {
    if (!Closing && Out.empty() && (Client == nullptr || Client->Outstanding() == 0)) Gone();
  }
  void TooLong() {
    // The rest of that line cannot be told from the next request: the connection ends.
    Send(QJsonDocument(TControlHub::Error("line too long")).toJson(QJsonDocument::Compact).toStdString());
    Gone();
  }
  void Gone() {
    if (Client != nullptr) Owner.Hub.Closed(Client);
    Client = nullptr;
    End();
  }
  void End() {
    if (Closing) return;
    Closing = true;
    In.clear();
    // What fits now still goes out (an error's answer); the rest is dropped.
    if (!Out.empty()) (void)::send(Fd, Out.data(), Out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    Out.clear();
    Owner.Bury(this);
  }

  TControlSocket& Owner;
  int Fd;
  TControlClient* Client = nullptr;
  std::string In;
  std::string Out;
  bool Watching = false;
  bool InputEnded = false;
  bool Closing = false;

  friend class TControlSocket;
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
  if (Epoll >= 0) ::close(Epoll);
  if (Fd >= 0) {
    ::close(Fd);
    ::unlink(Path_.c_str());
  }
}

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
  const int epoll = ::epoll_create1(EPOLL_CLOEXEC);
  if (fd < 0 || epoll < 0) {
    error = Errno(errno);
    if (fd >= 0) ::close(fd);
    if (epoll >= 0) ::close(epoll);
    return false;
  }
  // Made with no access for others from the first moment, then opened to the mode asked for.
  const mode_t old = ::umask(0177);
  const int bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr));
  const int bindErrno = errno;
  ::umask(old);
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.fd = fd;
  if (bound != 0 || ::chmod(path.c_str(), static_cast<mode_t>(mode)) != 0 || ::listen(fd, SOMAXCONN) != 0 ||
      ::epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &ev) != 0) {
    error = bound != 0 ? (bindErrno == ENOENT ? "its folder does not exist" : Errno(bindErrno)) : Errno(errno);
    if (bound == 0) ::unlink(path.c_str());
    ::close(fd);
    ::close(epoll);
    return false;
  }
  Fd = fd;
  Epoll = epoll;
  Path_ = path;
  Notifier = std::make_unique<QSocketNotifier>(Epoll, QSocketNotifier::Read);
  QObject::connect(Notifier.get(), &QSocketNotifier::activated, [this] { Events(); });
  return true;
}

void TControlSocket::Watch(int fd, bool writable, bool readable) {
  epoll_event ev{};
  ev.events = (readable ? EPOLLIN : 0U) | (writable ? EPOLLOUT : 0U);
  ev.data.fd = fd;
  ::epoll_ctl(Epoll, EPOLL_CTL_MOD, fd, &ev);
}

void TControlSocket::Events() {
  std::array<epoll_event, kMaxEvents> events{};
  const int n = ::epoll_wait(Epoll, events.data(), kMaxEvents, 0);
  for (int i = 0; i < n; ++i) {
    const int fd = events[static_cast<size_t>(i)].data.fd;
    const uint32_t what = events[static_cast<size_t>(i)].events;
    if (fd == Fd) {
      Accept();
      continue;
    }
    // Looked up afresh: an earlier event of this turn may have ended it.
    auto it = Live.find(fd);
    if (it != Live.end() && (what & EPOLLOUT) != 0) it->second->Writable();
    it = Live.find(fd);
    if (it != Live.end() && (what & EPOLLIN) != 0) it->second->Readable();
    it = Live.find(fd);
    if (it != Live.end() && (what & (EPOLLHUP | EPOLLERR)) != 0 && (what & EPOLLIN) == 0) it->second->HungUp();
  }
}

void TControlSocket::Accept() {
  for (;;) {
    const int fd = ::accept4(Fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;  // EAGAIN: all taken; anything else: tried again at the next one
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = fd;
    if (::epoll_ctl(Epoll, EPOLL_CTL_ADD, fd, &ev) != 0) {
      ::close(fd);
      continue;
    }
    ++Accepted;
    const std::string name = (ReadOnly ? "read-only socket " : "socket ") + std::to_string(Accepted);
    Live[fd] = std::make_unique<TConnection>(*this, fd, name);
  }
}

void TControlSocket::Bury(TConnection* connection) {
  const auto it = Live.find(connection->Fd);
  if (it == Live.end() || it->second.get() != connection) return;
  // The descriptor goes now (a new client may get its number at once); the
  // object stays until the event loop is back, as calls into it may still run.
  ::epoll_ctl(Epoll, EPOLL_CTL_DEL, connection->Fd, nullptr);
  ::close(connection->Fd);
  connection->Fd = -1;
  Dead.push_back(std::move(it->second));
  Live.erase(it);
  Reaper.start();
}

}  // namespace app
