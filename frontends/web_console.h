// The web console (--serve [HOST:]PORT): the page at /, its WebSocket at /ws
// speaking the control protocol (one JSON object per text message) as a
// transport of the control hub, and plain HTTP for scripts under /api/ with a
// bearer token. Two tokens: the writer's (may take the keyboard) and the
// viewer's; the page reads its token from the URL's fragment, which the
// browser never sends, and hands it over as the socket's first message.
//
// Everything a browser sends is untrusted: a WebSocket upgrade from a foreign
// Origin is refused with 403 (a page on another site must not reach a console
// on localhost through the user's browser), a request must be answered before
// 64 KiB of it have arrived, idle HTTP connections and sockets that never say
// hello are closed, and the number of connections is bounded.
#pragma once

#include <QObject>
#include <QPointer>
#include <memory>
#include <string>
#include <vector>

#include "frontends/control_hub.h"

class QWebSocket;

namespace app {

class TWebConsole : public QObject {
  Q_OBJECT

 public:
  static constexpr qint64 kMaxRequest = 64 * 1024;  // bytes of one HTTP request
  static constexpr int kMaxConnections = 512;
  static constexpr int kIdleMs = 20000;   // an HTTP connection without a request
  static constexpr int kHelloMs = 10000;  // a socket without its hello
  static constexpr int kBadToken = 4001;  // close code of a wrong or missing token

  // Tokens: CONSOLEW_TOKEN and CONSOLEW_VIEW_TOKEN from `getenv`, or random.
  TWebConsole(TControlHub& hub, const display::TScreen& screen, const char* writerToken,
              const char* viewToken);
  ~TWebConsole() override;
  TWebConsole(const TWebConsole&) = delete;
  TWebConsole& operator=(const TWebConsole&) = delete;

  // "[HOST:]PORT" (HOST 127.0.0.1 by default, [v6] in brackets, PORT 0: any
  // free port); false with `error` when it cannot listen.
  bool Listen(const std::string& where, std::string& error);
  // The page's link with the writer's or the viewer's token.
  std::string Link(bool writer) const;
  size_t Connections() const { return Live; }

 private:
  class THttpServer;
  class TTcpServer;
  class TClient;
  friend class THttpServer;
  friend class TTcpServer;
  friend class TClient;

  void NewSocket();
  void Forget(TClient* client);

  TControlHub& Hub;
  const display::TScreen& Screen;
  std::string WriterToken;
  std::string ViewToken;
  std::string LinkHost;
  quint16 Port = 0;
  size_t Live = 0;  // TCP connections open, WebSockets included
  std::unique_ptr<THttpServer> Http;
  std::vector<std::unique_ptr<TClient>> Clients;
};

// Whether `given` is `token`, in a time that does not depend on where they differ.
bool SameToken(const std::string& given, const std::string& token);

}  // namespace app
