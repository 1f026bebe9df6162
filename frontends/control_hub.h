// The console's control protocol, whatever carries it (a Unix socket, a
// WebSocket): JSON objects, one a message. A request carries "cmd" and may
// carry "id", echoed in its answer; every answer has "ok" (and, when false, a
// short "error" phrase); events carry "event" and no "ok". A client may have
// several requests in flight (a long "wait" and a "screen"): each is answered
// when it finishes. Everything a client sends is untrusted: validated, bounded,
// answered with an error, and nothing else changes.
//
// What waits for a slow client is bounded: screen events for a client whose
// transport holds much unsent are merged into the latest state (sent when it
// has drained), and past kMaxPending unsent bytes the client is closed.
#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "frontends/screen_match.h"
#include "session/session.h"

namespace app {

// One connection of a client, whatever carries it (Unix socket, WebSocket).
class IControlTransport {
 public:
  virtual ~IControlTransport() = default;
  virtual void Send(const std::string& message) = 0;  // one JSON object, no '\n'
  virtual size_t Pending() const = 0;                 // bytes queued, not yet written
  virtual void Close(const std::string& why) = 0;     // the hub gives up on this client
};

// A client as the hub knows it.
class TControlClient {
 public:
  TControlClient(IControlTransport& transport, bool mayTake, std::string name, uint64_t serial)
      : Transport(&transport), MayTake_(mayTake), Name_(std::move(name)), Serial(serial) {}
  const std::string& Name() const { return Name_; }
  bool MayTake() const { return MayTake_; }
  bool Subscribed() const { return Subscribed_; }
  // Requests received and not answered yet (a transport whose client has
  // stopped sending keeps the connection while some are).
  size_t Outstanding() const { return Outstanding_; }

 private:
  friend class TControlHub;
  IControlTransport* Transport;
  bool MayTake_;
  std::string Name_;
  uint64_t Serial;
  bool Gone = false;
  bool Subscribed_ = false;
  // Subscribed with "scroll": true: screen events may say the rows moved up.
  bool Scroll = false;
  bool WasWriter = false;
  // What the client was sent last: the screen's cells and cursor, the status.
  bool ScreenSent = false;
  uint64_t ChangesSent = 0;
  std::array<display::TScreenCell, display::TScreen::kCols * display::TScreen::kRows> Cells{};
  int32_t CursorCol = -1;
  int32_t CursorRow = -1;
  std::string StatusSent;
  bool StatusOwed = false;  // a status event held back while it had much unread
  size_t Waits = 0;
  size_t Outstanding_ = 0;
};

class TControlHub : public ISessionView {
 public:
  // Lines and messages a transport takes at most (longer: an error, then Close).
  static constexpr size_t kMaxMessage = 64 * 1024;
  // Unsent bytes past which screen events are merged, and past which the client is closed.
  static constexpr size_t kMergeAbove = 64 * 1024;
  static constexpr size_t kMaxPending = 1024 * 1024;
  // Waits one client may have at once.
  static constexpr size_t kMaxWaits = 64;
  static constexpr double kMaxTimeout = 86400;
  static constexpr double kDefaultTimeout = 30;

  explicit TControlHub(TSession& session);
  ~TControlHub() override;
  TControlHub(const TControlHub&) = delete;
  TControlHub& operator=(const TControlHub&) = delete;

  // A new client. `mayTake`: false for read-only sockets and view-token web pages.
  // `name` for logs ("socket 3", "web 127.0.0.1:51234").
  TControlClient* Open(IControlTransport& transport, bool mayTake, std::string name);
  // The transport went away (also mid-wait, and after the hub's own Close).
  void Closed(TControlClient* client);
  // One JSON request.
  void Receive(TControlClient* client, std::string_view message);
  size_t Clients() const;

  // Extension point for later commands: name -> handler. The handler answers
  // once through `answer` (now or later); "id" is added to the answer by the hub.
  using THandler = std::function<void(TControlClient&, const QJsonObject& request,
                                      std::function<void(QJsonObject)> answer)>;
  void AddCommand(std::string name, THandler handler);

  // The answer of "screen" (also GET /api/screen.json) and "status".
  QJsonObject ScreenObject() const;
  QJsonObject StatusObject(const TControlClient* client) const;

  // What "connect" does (the front-end's Connect, started from the event loop);
  // by default the session connects with its last choice.
  std::function<void()> OnConnect;
  // Milliseconds of a steady clock (tests set their own).
  std::function<int64_t()> NowMs;

  // An error answer: {"ok": false, "error": phrase}.
  static QJsonObject Error(const char* phrase);

  // ISessionView
  void Refresh(bool screenDirty) override;
  void StatusChanged(const std::string& text) override;
  void ConnectionChanged(bool connected) override;
  void Failure(const std::string& text, const std::string& detail) override;
  void LoopEnded() override;
  void ScreenChanged() override;
  void WriterChanged() override;

 private:
  struct TWait {
    uint64_t Client = 0;  // 0: its client has gone (serials start at 1)
    QJsonValue Id;
    bool HasId = false;
    TScreenQuery Query;
    int StableMs = -1;  // >= 0: wait for a stable screen instead
    std::unique_ptr<QTimer> Timeout;
    std::unique_ptr<QTimer> Stable;
  };
  struct TPendingConnect {
    uint64_t Client;
    QJsonValue Id;
    bool HasId;
  };

  void AddBuiltins();
  TControlClient* Find(uint64_t serial) const;
  // Sends `message` to the client; closes it when too much is unsent.
  void Send(TControlClient& client, const QJsonObject& message);
  void Drop(TControlClient& client, const std::string& why);
  // The answer function of one request: adds the id, finds the client again
  // (it may have gone meanwhile) and sends.
  std::function<void(QJsonObject)> Answerer(const TControlClient& client, const QJsonObject& request);
  void SendScreenEvent(TControlClient& client);
  void SendStatusEvent(TControlClient& client);
  void SendRoleEvents();
  void StartWait(TControlClient& client, const QJsonObject& request);
  void CheckWaits();
  void FinishWait(std::list<TWait>::iterator wait, bool ok, int row, int col, const char* error = "");
  void AnswerConnects(const QJsonObject& answer);

  TSession& Session;
  std::map<std::string, THandler, std::less<>> Commands;
  std::vector<std::unique_ptr<TControlClient>> Clients_;
  // Clients gone during a call into the hub, freed at the next tick.
  std::vector<std::unique_ptr<TControlClient>> Graveyard;
  std::list<TWait> Waits;
  std::vector<std::unique_ptr<QTimer>> DeadTimers;
  std::vector<TPendingConnect> Connects;
  uint64_t NextSerial = 1;
  // The status may have changed since the last tick's events.
  bool StatusDirty = true;
  // The rows as screen events carry them, built once per change for all clients.
  std::array<QJsonObject, display::TScreen::kRows> Rows;
  std::array<bool, display::TScreen::kRows> RowBuilt{};
  uint64_t RowsChanges = ~uint64_t{0};
  int64_t LastChangeMs = 0;
};

}  // namespace app
