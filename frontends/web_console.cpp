#include "frontends/web_console.h"

#include "display/cp437.h"

#include <QAbstractHttpServer>
#include <QFile>
#include <QHostInfo>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <algorithm>
#include <array>

#include "display/cp437.h"
#include "frontends/web_screen_image.h"

namespace app {
namespace {

using TStatus = QHttpServerResponder::StatusCode;

std::string RandomToken() {
  std::array<quint32, 4> words{};  // 128 bits
  QRandomGenerator::system()->fillRange(words.data(), words.size());
  std::string token;
  for (quint32 w : words) token += QByteArray::number(w, 16).rightJustified(8, '0').toStdString();
  return token;
}

QByteArray Header(const QHttpServerRequest& request, const char* name) {
  for (const auto& [key, value] : request.headers()) {
    if (key.compare(name, Qt::CaseInsensitive) == 0) return value;
  }
  return {};
}

QByteArray PageFile(const char* name) {
  QFile f(QString::fromLatin1(name));
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The page with the console's CP437 table (the code point each code shows
// as), which its replay of the history needs to read the recording back.
QByteArray PageWithCp437(QByteArray page) {
  QByteArray table = "[";
  for (int code = 0; code < 256; ++code) {
    table += QByteArray::number(static_cast<uint>(display::Cp437ToUnicode(static_cast<uint8_t>(code))));
    table += code < 255 ? "," : "]";
  }
  return page.replace("/*CP437*/null", table);
}

// A WebSocket from a page of this server, or from no page at all (a script):
// Origin absent or the scheme, host and port the request was sent to. Behind
// a TLS proxy the page's scheme is https.
bool OwnOrigin(const QByteArray& origin, const QByteArray& host) {
  if (origin.isEmpty()) return true;
  if (host.isEmpty()) return false;
  return origin == "http://" + host || origin == "https://" + host;
}

// One TCP connection: counted while it lives, and watched while it speaks
// HTTP (a request must be answered before kMaxRequest bytes arrived; an idle
// connection is closed).
class TConnectionGuard : public QObject {
 public:
  TConnectionGuard(QTcpSocket* socket, size_t& live) : QObject(socket), Socket(socket), Live(live) {
    ++Live;
    setObjectName(QLatin1String(kName));
    Idle.setSingleShot(true);
    Idle.start(TWebConsole::kIdleMs);
    connect(&Idle, &QTimer::timeout, this, [this] { Socket->abort(); });
    connect(socket, &QTcpSocket::readyRead, this, &TConnectionGuard::Read);
    connect(socket, &QTcpSocket::bytesWritten, this, [this] {
      Received = 0;
      Idle.start(TWebConsole::kIdleMs);
    });
  }
  ~TConnectionGuard() override { --Live; }
  TConnectionGuard(const TConnectionGuard&) = delete;
  TConnectionGuard& operator=(const TConnectionGuard&) = delete;

  static constexpr const char* kName = "consolew-connection-guard";
  static TConnectionGuard* Of(QTcpSocket* socket) {
    return dynamic_cast<TConnectionGuard*>(
        socket->findChild<QObject*>(QLatin1String(kName), Qt::FindDirectChildrenOnly));
  }

  // The connection becomes a WebSocket: its own limits apply from now on.
  void Upgraded() {
    Idle.stop();
    disconnect(Socket, nullptr, this, nullptr);
  }

 private:
  void Read() {
    Received += Socket->bytesAvailable();
    if (Received <= TWebConsole::kMaxRequest) return;
    // Taken away before the HTTP server reads it; the answer ends the connection.
    Socket->readAll();
    disconnect(Socket, nullptr, this, nullptr);
    Socket->write("HTTP/1.1 413 Request Entity Too Large\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    Socket->disconnectFromHost();
  }

  QTcpSocket* Socket;
  size_t& Live;
  qint64 Received = 0;
  QTimer Idle;
};

}  // namespace

bool SameToken(const std::string& given, const std::string& token) {
  if (token.empty()) return false;
  unsigned diff = given.size() == token.size() ? 0U : 1U;
  for (size_t i = 0; i < given.size(); ++i) {
    diff |= static_cast<unsigned>(static_cast<uint8_t>(given[i]) ^ static_cast<uint8_t>(token[i % token.size()]));
  }
  return diff == 0;
}

// Connections beyond the bound are closed at once; the rest get their guard
// before the HTTP server sees them (its handlers then run after the guard's).
class TWebConsole::TTcpServer : public QTcpServer {
 public:
  explicit TTcpServer(TWebConsole& owner) : Owner(owner) {}

 protected:
  void incomingConnection(qintptr fd) override {
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(fd) || Owner.Live >= static_cast<size_t>(kMaxConnections)) {
      socket->abort();
      socket->deleteLater();
      return;
    }
    new TConnectionGuard(socket, Owner.Live);
    addPendingConnection(socket);
  }

 private:
  TWebConsole& Owner;
};

class TWebConsole::THttpServer : public QAbstractHttpServer {
 public:
  explicit THttpServer(TWebConsole& owner) : Owner(owner) {}

 protected:
  bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override {
    const QString path = request.url().path();
    QHttpServerResponder responder = makeResponder(request, socket);
    if (Header(request, "Upgrade").compare("websocket", Qt::CaseInsensitive) == 0) {
      if (path != QLatin1String("/ws")) {
        responder.write(TStatus::NotFound);
        socket->disconnectFromHost();
      } else if (!OwnOrigin(Header(request, "Origin"), Header(request, "Host"))) {
        responder.write(QByteArrayLiteral("foreign origin\n"), "text/plain", TStatus::Forbidden);
        socket->disconnectFromHost();
      } else if (auto* guard = TConnectionGuard::Of(socket)) {
        guard->Upgraded();
      }
      return true;  // upgraded unless answered; an answered one is closed when it arrives
    }
    const auto method = request.method();
    const bool get = method == QHttpServerRequest::Method::Get || method == QHttpServerRequest::Method::Head;
    if (path.startsWith(QLatin1String("/api/"))) return Api(request, path, get, responder), true;
    if (!get) return responder.write(TStatus::MethodNotAllowed), true;
    if (path == QLatin1String("/") || path == QLatin1String("/index.html")) {
      static const QByteArray page = PageWithCp437(PageFile(":/web/console.html"));
      responder.write(page,
                      {{"Content-Type", "text/html; charset=utf-8"},
                       {"Cache-Control", "no-store"},
                       {"Referrer-Policy", "no-referrer"},
                       {"X-Frame-Options", "DENY"},
                       {"Content-Security-Policy",
                        "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                        "connect-src 'self' ws: wss:; img-src 'self' blob: data:; frame-ancestors 'none'"}},
                      TStatus::Ok);
      return true;
    }
    if (path == QLatin1String("/glyphs.bin")) {
      responder.write(TWebGlyphs::Builtin().File(), "application/octet-stream", TStatus::Ok);
      return true;
    }
    responder.write(TStatus::NotFound);
    return true;
  }

  void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override {
    makeResponder(request, socket).write(TStatus::NotFound);
  }

 private:
  void Api(const QHttpServerRequest& request, const QString& path, bool get, QHttpServerResponder& responder) {
    const QByteArray auth = Header(request, "Authorization");
    const std::string given = auth.startsWith("Bearer ") ? auth.mid(7).trimmed().toStdString() : std::string();
    const bool writer = SameToken(given, Owner.WriterToken);
    if (!writer && !SameToken(given, Owner.ViewToken)) {
      return responder.write(QByteArrayLiteral("a token is needed: Authorization: Bearer TOKEN\n"),
                             {{"Content-Type", "text/plain"}, {"WWW-Authenticate", "Bearer"}},
                             TStatus::Unauthorized);
    }
    if (request.method() == QHttpServerRequest::Method::Post && !writer) {
      return responder.write(QByteArrayLiteral("view only\n"), "text/plain", TStatus::Forbidden);
    }
    if (!get) return responder.write(TStatus::MethodNotAllowed);
    if (path == QLatin1String("/api/screen.json")) {
      return responder.write(QJsonDocument(Owner.Hub.ScreenObject()));
    }
    if (path == QLatin1String("/api/status.json")) {
      return responder.write(QJsonDocument(Owner.Hub.StatusObject(nullptr)));
    }
    if (path == QLatin1String("/api/screen.txt")) {
      QByteArray text;
      for (const QJsonValue& row : Owner.Hub.ScreenObject().value(QLatin1String("text")).toArray()) {
        text += row.toString().toUtf8() + '\n';
      }
      return responder.write(text, "text/plain; charset=utf-8", TStatus::Ok);
    }
    if (path == QLatin1String("/api/screen.png")) {
      const QByteArray png = ScreenPng(Owner.Screen, TWebGlyphs::Builtin());
      if (png.isEmpty()) return responder.write(TStatus::InternalServerError);
      return responder.write(png, "image/png", TStatus::Ok);
    }
    responder.write(TStatus::NotFound);
  }

  TWebConsole& Owner;
};

// One WebSocket: silent until its hello names a token, then a client of the hub.
class TWebConsole::TClient : public IControlTransport {
 public:
  TClient(TWebConsole& owner, std::unique_ptr<QWebSocket> socket) : Owner(owner), Socket(std::move(socket)) {
    Name = "web " + Socket->peerAddress().toString().toStdString() + ":" + std::to_string(Socket->peerPort());
    Socket->setMaxAllowedIncomingMessageSize(TControlHub::kMaxMessage);
    Socket->setMaxAllowedIncomingFrameSize(TControlHub::kMaxMessage);
    QObject::connect(Socket.get(), &QWebSocket::textMessageReceived, Socket.get(),
                     [this](const QString& message) { Text(message); });
    QObject::connect(Socket.get(), &QWebSocket::binaryMessageReceived, Socket.get(), [this](const QByteArray&) {
      if (Hub == nullptr) return Close(kBadToken, "hello first");
      Send(R"({"ok":false,"error":"text messages only"})");
    });
    QObject::connect(Socket.get(), &QWebSocket::bytesWritten, Socket.get(),
                     [this](qint64 n) { Unsent -= std::min(Unsent, static_cast<size_t>(std::max<qint64>(n, 0))); });
    QObject::connect(Socket.get(), &QWebSocket::disconnected, Socket.get(), [this] { Gone(); });
    Hello.setSingleShot(true);
    QObject::connect(&Hello, &QTimer::timeout, Socket.get(), [this] { Close(kBadToken, "no hello"); });
    Hello.start(kHelloMs);
  }
  ~TClient() override {
    if (Client != nullptr) Owner.Hub.Closed(Client);
    Socket->disconnect();
    Socket->abort();
  }
  TClient(const TClient&) = delete;
  TClient& operator=(const TClient&) = delete;

  void Send(const std::string& message) override {
    if (Closing) return;
    Unsent += message.size();
    Socket->sendTextMessage(QString::fromUtf8(message.data(), static_cast<qsizetype>(message.size())));
  }
  size_t Pending() const override { return Unsent; }
  void Close(const std::string& why) override { Close(QWebSocketProtocol::CloseCodePolicyViolated, why); }

 private:
  void Close(int code, const std::string& why) {
    if (Closing) return;
    Closing = true;
    Socket->close(static_cast<QWebSocketProtocol::CloseCode>(code), QString::fromStdString(why));
    // A peer that does not answer the close is dropped a little later.
    QTimer::singleShot(2000, Socket.get(), [this] { Socket->abort(); });
  }

  void Text(const QString& message) {
    if (Closing) return;
    if (Client != nullptr) return Owner.Hub.Receive(Client, message.toStdString());
    const QJsonObject hello = QJsonDocument::fromJson(message.toUtf8()).object();
    const std::string token = hello.value(QLatin1String("token")).toString().toStdString();
    const bool writer = SameToken(token, Owner.WriterToken);
    if (hello.value(QLatin1String("cmd")).toString() != QLatin1String("hello") ||
        (!writer && !SameToken(token, Owner.ViewToken))) {
      return Close(kBadToken, "wrong or missing token");
    }
    Hello.stop();
    Hub = &Owner.Hub;
    Client = Owner.Hub.Open(*this, writer, Name);
    QJsonObject answer{{"ok", true}, {"mayTake", writer}};
    if (hello.contains(QLatin1String("id"))) answer[QLatin1String("id")] = hello.value(QLatin1String("id"));
    Send(QJsonDocument(answer).toJson(QJsonDocument::Compact).toStdString());
  }

  // The peer has gone: the hub forgets the client now, the object goes once
  // the event loop is back (this runs inside one of its socket's signals).
  void Gone() {
    if (Client != nullptr) Owner.Hub.Closed(Client);
    Client = nullptr;
    Closing = true;
    QTimer::singleShot(0, &Owner, [owner = &Owner, self = this] { owner->Forget(self); });
  }

  TWebConsole& Owner;
  std::unique_ptr<QWebSocket> Socket;
  std::string Name;
  TControlHub* Hub = nullptr;
  TControlClient* Client = nullptr;
  size_t Unsent = 0;
  bool Closing = false;
  QTimer Hello;
};

TWebConsole::TWebConsole(TControlHub& hub, const display::TScreen& screen, const char* writerToken,
                         const char* viewToken)
    : Hub(hub),
      Screen(screen),
      WriterToken(writerToken != nullptr && *writerToken != 0 ? writerToken : RandomToken()),
      ViewToken(viewToken != nullptr && *viewToken != 0 ? viewToken : RandomToken()),
      Http(std::make_unique<THttpServer>(*this)) {
  connect(Http.get(), &QAbstractHttpServer::newWebSocketConnection, this, &TWebConsole::NewSocket);
}

TWebConsole::~TWebConsole() {
  Clients.clear();
  Http.reset();
}

bool TWebConsole::Listen(const std::string& where, std::string& error) {
  QString host = QStringLiteral("127.0.0.1");
  QString port = QString::fromStdString(where);
  const qsizetype colon = port.lastIndexOf(QLatin1Char(':'));
  if (colon >= 0) {
    host = port.left(colon);
    port = port.mid(colon + 1);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'))) host = host.mid(1, host.size() - 2);
  }
  bool ok = false;
  const uint number = port.toUInt(&ok);
  if (!ok || number > 65535 || host.isEmpty()) {
    error = "needs [HOST:]PORT, e.g. 8080 or 0.0.0.0:8080";
    return false;
  }
  QHostAddress address;
  if (host == QLatin1String("localhost")) {
    address = QHostAddress::LocalHost;
  } else if (!address.setAddress(host)) {
    error = "HOST must be an IP address (" + host.toStdString() + ")";
    return false;
  }
  auto* server = new TTcpServer(*this);
  server->setParent(Http.get());
  if (!server->listen(address, static_cast<quint16>(number))) {
    error = server->errorString().toStdString();
    return false;
  }
  Http->bind(server);
  Port = server->serverPort();
  // A link for others names this machine when it listens on every address.
  if (address == QHostAddress::AnyIPv4 || address == QHostAddress::AnyIPv6 || address == QHostAddress::Any) {
    LinkHost = QHostInfo::localHostName().toStdString();
  } else {
    LinkHost = address.protocol() == QAbstractSocket::IPv6Protocol ? "[" + host.toStdString() + "]" : host.toStdString();
  }
  return true;
}

std::string TWebConsole::Link(bool writer) const {
  return "http://" + LinkHost + ":" + std::to_string(Port) + "/#token=" + (writer ? WriterToken : ViewToken);
}

void TWebConsole::NewSocket() {
  while (Http->hasPendingWebSocketConnections()) {
    std::unique_ptr<QWebSocket> socket = Http->nextPendingWebSocketConnection();
    if (!socket) continue;
    // An upgrade that was answered (a foreign Origin, another path) still
    // arrives here: it ends now.
    const QByteArray host = socket->request().rawHeader("Host");
    if (socket->requestUrl().path() != QLatin1String("/ws") || !OwnOrigin(socket->origin().toUtf8(), host)) {
      // Its answer is on the way out (aborting would drop it): it goes when
      // the connection has closed, or after a while.
      QWebSocket* refused = socket.release();
      connect(refused, &QWebSocket::disconnected, refused, &QObject::deleteLater);
      QTimer::singleShot(2000, refused, [refused] {
        refused->abort();
        refused->deleteLater();
      });
      continue;
    }
    Clients.push_back(std::make_unique<TClient>(*this, std::move(socket)));
  }
}

void TWebConsole::Forget(TClient* client) {
  std::erase_if(Clients, [client](const std::unique_ptr<TClient>& c) { return c.get() == client; });
}

}  // namespace app
