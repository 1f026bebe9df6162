#include "session/net_port.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <iterator>

#include "net/server_text.h"

namespace app {
namespace {

// First bytes of a connection kept for FirstWords(): more than a server's
// one-line reason needs, bounded whatever it sends.
constexpr size_t kFirstBytes = 512;

void SetIntOption(int fd, int level, int name, int value) {
  (void)::setsockopt(fd, level, name, &value, sizeof value);
}

std::string Seconds(int ms) {
  if (ms % 1000 == 0) return std::to_string(ms / 1000) + " s";
  return std::to_string(ms) + " ms";
}

}  // namespace

net::TLineSettings LineSettingsOf(const comm::TThreadComm& comm) {
  // RFC 2217 numbers parity from 1 (none, odd, even, mark, space) and stop
  // bits as 1 one, 2 two, 3 one and a half.
  static constexpr uint8_t kParity[] = {1, 2, 3, 4, 5};
  static constexpr uint8_t kStop[] = {1, 3, 2};
  static constexpr uint8_t kDataSize[] = {4, 5, 6, 7, 8};
  net::TLineSettings s;
  const uint32_t rate = comm::BitRateOf(comm.BaudRate());
  s.BitRate = rate != 0 ? rate : static_cast<uint32_t>(std::max(comm.UserBaud(), 0));
  s.Parity = kParity[std::min<size_t>(comm.Parity(), std::size(kParity) - 1)];
  s.StopSize = kStop[std::min<size_t>(comm.StopBits(), std::size(kStop) - 1)];
  s.DataSize = kDataSize[std::min<size_t>(comm.DataBits(), std::size(kDataSize) - 1)];
  return s;
}

TNetPort::TNetPort() {
  Deadline.setSingleShot(true);
  QObject::connect(&Deadline, &QTimer::timeout, &Socket,
                   [this] { Failed("no answer within " + Seconds(ConnectTimeoutMs)); });
  QObject::connect(&Socket, &QTcpSocket::connected, &Socket, [this] { Connected(); });
  QObject::connect(&Socket, &QTcpSocket::readyRead, &Socket, [this] { Arrived(); });
  // Errors and the end of the connection may be reported from inside a write:
  // they are acted on from the event loop.
  const auto trouble = [this] {
    const uint64_t generation = Generation;
    const std::string reason = SocketReason();
    QTimer::singleShot(0, &Socket, [this, generation, reason] {
      if (generation != Generation) return;
      if (State == TState::Open) {
        Lost(reason);
      } else if (State != TState::Closed) {
        Failed(reason);
      }
    });
  };
  QObject::connect(&Socket, &QTcpSocket::errorOccurred, &Socket, trouble);
  QObject::connect(&Socket, &QTcpSocket::disconnected, &Socket, trouble);
}

TNetPort::~TNetPort() {
  ++Generation;
  QObject::disconnect(&Socket, nullptr, nullptr, nullptr);
  Socket.abort();
}

std::string TNetPort::SocketReason() const {
  switch (Socket.error()) {
    case QAbstractSocket::ConnectionRefusedError: return "connection refused";
    case QAbstractSocket::HostNotFoundError: return "host not found";
    case QAbstractSocket::RemoteHostClosedError: return "the server closed the connection";
    case QAbstractSocket::SocketTimeoutError: return "no answer within " + Seconds(ConnectTimeoutMs);
    case QAbstractSocket::UnknownSocketError:
      if (Socket.state() == QAbstractSocket::UnconnectedState) return "the server closed the connection";
      break;
    default: break;
  }
  return Socket.errorString().toStdString();
}

void TNetPort::Open(const std::string& device, TOpened opened) {
  Close();
  Name = device;
  std::string error;
  const auto address = net::ParseNetAddress(device, error);
  if (!address) {
    opened(false, device + ": " + error);
    return;
  }
  Address = *address;
  Codec = net::TTelnetCodec();
  First.clear();
  Pending = std::move(opened);
  State = TState::Connecting;
  Deadline.start(ConnectTimeoutMs);
  Socket.connectToHost(QString::fromStdString(Address.Host), Address.Port);
}

void TNetPort::Close() {
  ++Generation;
  Deadline.stop();
  Pending = nullptr;
  State = TState::Closed;
  Socket.abort();
  In.clear();
  InPos = 0;
}

void TNetPort::QuickAck() {
  const auto fd = Socket.socketDescriptor();
  if (fd >= 0) SetIntOption(static_cast<int>(fd), IPPROTO_TCP, TCP_QUICKACK, 1);
}

void TNetPort::Connected() {
  if (State != TState::Connecting) return;
  Socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
  const auto fd = Socket.socketDescriptor();
  if (fd >= 0) {
    // A server that vanishes without closing (its cable pulled) is noticed
    // within about 11 s instead of never.
    SetIntOption(static_cast<int>(fd), SOL_SOCKET, SO_KEEPALIVE, 1);
    SetIntOption(static_cast<int>(fd), IPPROTO_TCP, TCP_KEEPIDLE, 5);
    SetIntOption(static_cast<int>(fd), IPPROTO_TCP, TCP_KEEPINTVL, 2);
    SetIntOption(static_cast<int>(fd), IPPROTO_TCP, TCP_KEEPCNT, 3);
  }
  QuickAck();
  if (Address.Scheme == net::TNetScheme::nsRaw) {
    Finish(true, std::string());
    return;
  }
  // The port opens once the server has answered the offer of port control.
  State = TState::Negotiating;
  Send(Codec.Start());
}

void TNetPort::Arrived() {
  const QByteArray bytes = Socket.readAll();
  QuickAck();
  if (State == TState::Closed || State == TState::Connecting) return;
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.constData());
  const auto size = static_cast<size_t>(bytes.size());
  const size_t before = In.size();
  if (Address.Scheme == net::TNetScheme::nsRaw) {
    In.insert(In.end(), data, data + size);
  } else {
    std::string answer;
    Codec.Receive(data, size, In, answer);
    if (!answer.empty()) Send(answer);
    if (State == TState::Negotiating && Codec.ComPortControl().has_value()) {
      // The serial component's settings go to the server's port; a telnet
      // server without port control carries the data all the same.
      if (*Codec.ComPortControl()) Send(net::TTelnetCodec::LineSettings(Settings));
      Finish(true, std::string());
      if (State != TState::Open) return;
    }
  }
  // The data bytes of this segment (the codec appends to In, after what the link has not read).
  const auto fresh = In.begin() + static_cast<std::ptrdiff_t>(before);
  const auto keep = static_cast<std::ptrdiff_t>(std::min(In.size() - before, kFirstBytes - First.size()));
  First.insert(First.end(), fresh, fresh + keep);
  Announce();
}

void TNetPort::Announce() {
  if (State != TState::Open || InPos >= In.size() || !OnRxChar) return;
  const size_t waiting = In.size() - InPos;
  OnRxChar(static_cast<uint32_t>(std::min<size_t>(waiting, UINT32_MAX)));
  // What the link left is announced again, as the serial component does,
  // not held until the server's next segment; each time only when the link
  // took something, so a listener that reads nothing cannot keep it going.
  if (State != TState::Open || InPos >= In.size() || In.size() - InPos >= waiting) return;
  const uint64_t generation = Generation;
  QTimer::singleShot(0, &Socket, [this, generation] {
    if (generation == Generation) Announce();
  });
}

std::string TNetPort::FirstWords() const { return net::ServerText(First.data(), First.size()); }

void TNetPort::Failed(const std::string& reason) {
  if (State != TState::Connecting && State != TState::Negotiating) return;
  Finish(false, Name + ": " + reason);
}

void TNetPort::Finish(bool ok, const std::string& reason) {
  Deadline.stop();
  if (ok) {
    State = TState::Open;
  } else {
    State = TState::Closed;
    Socket.abort();
    In.clear();
    InPos = 0;
  }
  TOpened opened = std::move(Pending);
  Pending = nullptr;
  if (opened) opened(ok, reason);
}

void TNetPort::Lost(const std::string& reason) {
  State = TState::Closed;
  ++Generation;
  Socket.abort();
  In.clear();
  InPos = 0;
  if (OnLost) OnLost(Name + ": " + reason);
}

int TNetPort::Read(void* buffer, uint32_t count) {
  if (State != TState::Open) return -1;
  const size_t n = std::min<size_t>(count, In.size() - InPos);
  if (n > 0) std::memcpy(buffer, In.data() + InPos, n);
  InPos += n;
  if (InPos == In.size()) {
    In.clear();
    InPos = 0;
  }
  return static_cast<int>(n);
}

int TNetPort::InQueCount() {
  if (State != TState::Open) return -1;
  return static_cast<int>(std::min<size_t>(In.size() - InPos, 1 << 30));
}

int TNetPort::Write(const void* buffer, uint32_t count) {
  if (State != TState::Open) return -1;
  const auto* data = static_cast<const uint8_t*>(buffer);
  if (Address.Scheme == net::TNetScheme::nsRaw) {
    Socket.write(reinterpret_cast<const char*>(data), count);
    Socket.flush();
  } else {
    std::string wire;
    Codec.Send(data, count, wire);
    Send(wire);
  }
  return static_cast<int>(count);
}

void TNetPort::Send(const std::string& bytes) {
  Socket.write(bytes.data(), static_cast<qint64>(bytes.size()));
  Socket.flush();
}

void TNetPort::SetControl(uint8_t value) {
  if (State == TState::Open && PortControl()) Send(net::TTelnetCodec::Control(value));
}

}  // namespace app
