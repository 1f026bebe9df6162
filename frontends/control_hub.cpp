#include "frontends/control_hub.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>

#include "floppy/floppy_image.h"
#include "frontends/screen_scroll.h"

namespace app {

using display::TScreen;

namespace {

constexpr size_t kShownCells = static_cast<size_t>(TScreen::kCols) * TScreen::kRows;
constexpr qsizetype kMaxPath = 4096;

QByteArray Base64(const void* data, size_t size) {
  return QByteArray(static_cast<const char*>(data), static_cast<qsizetype>(size)).toBase64();
}

QJsonObject Ok() {
  QJsonObject o;
  o["ok"] = true;
  return o;
}

// An integer argument within [lo, hi]; nullopt when absent; `bad` set when
// present but no integer in range.
std::optional<int64_t> IntArg(const QJsonObject& r, const char* name, int64_t lo, int64_t hi, bool& bad) {
  if (!r.contains(QLatin1String(name))) return std::nullopt;
  const QJsonValue v = r.value(QLatin1String(name));
  const double d = v.toDouble(std::nan(""));
  if (!v.isDouble() || !std::isfinite(d) || d != std::floor(d) || d < static_cast<double>(lo) ||
      d > static_cast<double>(hi)) {
    bad = true;
    return std::nullopt;
  }
  return static_cast<int64_t>(d);
}

const char* WriterWord(TWriterKind kind) {
  switch (kind) {
    case TWriterKind::Local:
      return "console";
    case TWriterKind::Client:
      return "client";
    case TWriterKind::Nobody:
      break;
  }
  return "nobody";
}

// The key commands: each hands its keys to the session, answered when they are in the queue.
void KeyAnswer(const std::function<void(QJsonObject)>& answer, bool ok, const std::string& error) {
  answer(ok ? Ok() : TControlHub::Error(error.c_str()));
}

}  // namespace

QJsonObject TControlHub::Error(const char* phrase) {
  QJsonObject o;
  o["ok"] = false;
  o["error"] = QString::fromUtf8(phrase);
  return o;
}

TControlHub::TControlHub(TSession& session) : Session(session) {
  NowMs = [] {
    return static_cast<int64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::steady_clock::now().time_since_epoch())
                                    .count());
  };
  LastChangeMs = NowMs();
  AddBuiltins();
  Session.AddView(this);
}

TControlHub::~TControlHub() {
  Session.RemoveView(this);
  for (auto& c : Clients_) Session.ForgetClient(c.get());
}

size_t TControlHub::Clients() const { return Clients_.size(); }

void TControlHub::AddCommand(std::string name, THandler handler) { Commands[std::move(name)] = std::move(handler); }

TControlClient* TControlHub::Open(IControlTransport& transport, bool mayTake, std::string name) {
  Clients_.push_back(std::make_unique<TControlClient>(transport, mayTake, std::move(name), NextSerial++));
  return Clients_.back().get();
}

TControlClient* TControlHub::Find(uint64_t serial) const {
  for (const auto& c : Clients_) {
    if (c->Serial == serial) return c.get();
  }
  return nullptr;
}

void TControlHub::Closed(TControlClient* client) {
  const auto it = std::find_if(Clients_.begin(), Clients_.end(), [client](const auto& c) { return c.get() == client; });
  if (it == Clients_.end()) return;
  const uint64_t serial = client->Serial;
  client->Gone = true;
  Graveyard.push_back(std::move(*it));
  Clients_.erase(it);
  // Its waits end here, untold (their timers stopped now, the waits freed at
  // the next tick: a walk through the waits may be what led here); its keys
  // are dropped and the keyboard, if it held it, goes back.
  for (TWait& w : Waits) {
    if (w.Client != serial) continue;
    w.Client = 0;
    if (w.Timeout) w.Timeout->stop();
    if (w.Stable) w.Stable->stop();
  }
  std::erase_if(Connects, [serial](const TPendingConnect& p) { return p.Client == serial; });
  Session.ForgetClient(client);
}

void TControlHub::Drop(TControlClient& client, const std::string& why) {
  if (client.Gone) return;
  IControlTransport* transport = client.Transport;
  Closed(&client);
  transport->Close(why);
}

void TControlHub::Send(TControlClient& client, const QJsonObject& message) {
  if (client.Gone) return;
  client.Transport->Send(QJsonDocument(message).toJson(QJsonDocument::Compact).toStdString());
  if (client.Transport->Pending() > kMaxPending) Drop(client, "too slow: over 1 MiB unread");
}

std::function<void(QJsonObject)> TControlHub::Answerer(const TControlClient& client, const QJsonObject& request) {
  const uint64_t serial = client.Serial;
  const bool hasId = request.contains(QLatin1String("id"));
  const QJsonValue id = request.value(QLatin1String("id"));
  return [this, serial, hasId, id, answered = false](QJsonObject answer) mutable {
    TControlClient* c = Find(serial);
    if (c == nullptr) return;  // gone meanwhile: nothing to tell
    if (hasId) answer["id"] = id;
    if (!answered && c->Outstanding_ > 0) --c->Outstanding_;
    answered = true;
    Send(*c, answer);
  };
}

void TControlHub::Receive(TControlClient* client, std::string_view message) {
  if (client == nullptr || client->Gone) return;
  QJsonParseError error{};
  const QJsonDocument doc =
      QJsonDocument::fromJson(QByteArray(message.data(), static_cast<qsizetype>(message.size())), &error);
  if (error.error != QJsonParseError::NoError) return Send(*client, Error("malformed JSON"));
  if (!doc.isObject()) return Send(*client, Error("not a JSON object"));
  const QJsonObject request = doc.object();
  ++client->Outstanding_;
  auto answer = Answerer(*client, request);
  const QJsonValue cmd = request.value(QLatin1String("cmd"));
  if (!cmd.isString()) return answer(Error("no cmd"));
  const auto handler = Commands.find(cmd.toString().toStdString());
  if (handler == Commands.end()) return answer(Error("unknown command"));
  handler->second(*client, request, std::move(answer));
}

QJsonObject TControlHub::ScreenObject() const {
  const TScreen& s = Session.Screen;
  QJsonObject o = Ok();
  o["cols"] = TScreen::kCols;
  o["rows"] = TScreen::kRows;
  o["cursor"] = QJsonArray{s.CursorCol, s.CursorRow};
  QJsonArray text;
  for (int row = 0; row < TScreen::kRows; ++row) text.append(ScreenRowText(s, row));
  o["text"] = text;
  o["cells"] = QString::fromLatin1(Base64(s.VideoBuffer.data(), kShownCells * sizeof(display::TScreenCell)));
  return o;
}

QJsonObject TControlHub::StatusObject(const TControlClient* client) const {
  QJsonObject o = Ok();
  o["connected"] = Session.Connected();
  o["port"] = QString::fromStdString(Session.PortName());
  o["device"] = QString::fromStdString(Session.PortDevice());
  o["lost"] = Session.PortLost();
  o["bytes"] = static_cast<double>(Session.Link.Rx.RxCount);
  o["status"] = QString::fromStdString(Session.Status());
  QJsonObject stats;
  const TLinkCounts& counts = Session.Stats.Counts;
  stats["requests"] = static_cast<double>(counts.AllRequests());
  for (const auto& c : kLinkCountNames) stats[QLatin1String(c.Name)] = static_cast<double>(counts.*(c.Field));
  QJsonObject services;
  for (size_t slot = 0; slot < kServiceSlots; ++slot) {
    services[QString::fromUtf8(ServiceName(slot))] = static_cast<double>(counts.Requests[slot]);
  }
  stats["services"] = services;
  o["stats"] = stats;
  const floppy::TImageStatus f = Session.Floppy.Status();
  QJsonObject floppy;
  floppy["image"] = QString::fromStdString(f.Name);
  floppy["writeProtected"] = Session.WriteProtected();
  floppy["message"] = QString::fromStdString(f.Message);
  floppy["trouble"] = f.Trouble;
  o["floppy"] = floppy;
  o["shift"] = QString::fromStdString(keyboard::KBDStateText(Session.Keyboard.ShiftFlags)).simplified();
  o["clients"] = static_cast<int>(Clients_.size());
  o["keyboard"] = QLatin1String(WriterWord(Session.Writer()));
  o["writer"] = client != nullptr && Session.IsWriter(client);
  o["mayTake"] = client != nullptr && client->MayTake();
  return o;
}

void TControlHub::AddBuiltins() {
  Commands["screen"] = [this](TControlClient&, const QJsonObject&, auto answer) { answer(ScreenObject()); };
  Commands["status"] = [this](TControlClient& c, const QJsonObject&, auto answer) { answer(StatusObject(&c)); };
  Commands["wait"] = [this](TControlClient& c, const QJsonObject& r, auto) { StartWait(c, r); };
  Commands["subscribe"] = [this](TControlClient& c, const QJsonObject& r, auto answer) {
    const QJsonValue scroll = r.value(QLatin1String("scroll"));
    if (!scroll.isUndefined() && !scroll.isBool()) return answer(Error("scroll must be true or false"));
    answer(Ok());
    c.Subscribed_ = true;
    c.Scroll = scroll.toBool();
    c.ScreenSent = false;
    c.StatusSent.clear();
    c.StatusOwed = true;  // the status at the next tick
    SendScreenEvent(c);  // the whole screen first
  };
  Commands["take"] = [this](TControlClient& c, const QJsonObject&, auto answer) {
    if (!c.MayTake()) return answer(Error("read-only connection"));
    Session.TakeKeyboard(&c);
    QJsonObject o = Ok();
    o["writer"] = true;
    answer(o);
  };
  Commands["release"] = [this](TControlClient& c, const QJsonObject&, auto answer) {
    Session.ReleaseKeyboard(&c);
    QJsonObject o = Ok();
    o["writer"] = false;
    answer(o);
  };
  Commands["type"] = [this](TControlClient& c, const QJsonObject& r, auto answer) {
    const QJsonValue text = r.value(QLatin1String("text"));
    if (!text.isString()) return answer(Error("text must be a string"));
    Session.ClientType(&c, text.toString().toStdString(),
                       [answer](bool ok, const std::string& e) { KeyAnswer(answer, ok, e); });
  };
  Commands["key"] = [this](TControlClient& c, const QJsonObject& r, auto answer) {
    const QJsonValue key = r.value(QLatin1String("key"));
    if (!key.isString()) return answer(Error("key must be a string"));
    Session.ClientChord(&c, key.toString().toStdString(),
                        [answer](bool ok, const std::string& e) { KeyAnswer(answer, ok, e); });
  };
  Commands["keyevent"] = [this](TControlClient& c, const QJsonObject& r, auto answer) {
    const QJsonValue code = r.value(QLatin1String("code"));
    const QJsonValue down = r.value(QLatin1String("down"));
    if (!code.isString()) return answer(Error("code must be a string"));
    if (!down.isBool()) return answer(Error("down must be true or false"));
    Session.ClientKeyEvent(&c, code.toString().toStdString(), down.toBool(),
                           [answer](bool ok, const std::string& e) { KeyAnswer(answer, ok, e); });
  };
  Commands["code"] = [this](TControlClient& c, const QJsonObject& r, auto answer) {
    bool bad = false;
    const auto code = IntArg(r, "code", 0, 0xFFFF, bad);
    if (!code) return answer(Error("code must be an integer 0-65535"));
    Session.ClientKeyCode(&c, static_cast<uint16_t>(*code),
                          [answer](bool ok, const std::string& e) { KeyAnswer(answer, ok, e); });
  };
  // What acts on the board or its line is the writer's.
  Commands["refresh"] = [this](TControlClient& c, const QJsonObject&, auto answer) {
    if (!Session.IsWriter(&c)) return answer(Error("not the writer"));
    Session.RequestScreenOnce();
    answer(Ok());
  };
  Commands["floppy"] = [this](TControlClient& c, const QJsonObject& r, auto answer) {
    if (!Session.IsWriter(&c)) return answer(Error("not the writer"));
    const QJsonValue path = r.value(QLatin1String("path"));
    const QJsonValue readOnly = r.value(QLatin1String("readOnly"));
    if (!path.isString() || path.toString().isEmpty() || path.toString().size() > kMaxPath ||
        path.toString().contains(QChar(0))) {
      return answer(Error("path must be a file name"));
    }
    if (!readOnly.isUndefined() && !readOnly.isBool()) return answer(Error("readOnly must be true or false"));
    if (readOnly.isBool()) Session.SetWriteProtect(readOnly.toBool());
    Session.ChangeImage(path.toString().toStdString());
    answer(Ok());
  };
  Commands["connect"] = [this](TControlClient& c, const QJsonObject& r, auto answer) {
    if (!Session.IsWriter(&c)) return answer(Error("not the writer"));
    if (Session.Connected()) return answer(Ok());
    Connects.push_back({c.Serial, r.value(QLatin1String("id")), r.contains(QLatin1String("id"))});
    if (Session.Running()) return;  // already connecting: answered with the others
    // Connect runs the service loop: from the event loop, never from inside a client's request.
    QTimer::singleShot(0, &Session.Timer1, [this] {
      if (Session.Running() || Session.Connected()) return;
      if (OnConnect) {
        OnConnect();
      } else {
        Session.Connect(Session.NextChoice());
      }
    });
  };
  Commands["disconnect"] = [this](TControlClient& c, const QJsonObject&, auto answer) {
    if (!Session.IsWriter(&c)) return answer(Error("not the writer"));
    if (Session.Connected()) Session.Disconnect();
    answer(Ok());
  };
}

void TControlHub::StartWait(TControlClient& client, const QJsonObject& r) {
  auto answer = Answerer(client, r);
  if (client.Waits >= kMaxWaits) return answer(Error("too many waits"));
  TWait w;
  bool bad = false;
  const QJsonValue text = r.value(QLatin1String("text"));
  const QJsonValue regex = r.value(QLatin1String("regex"));
  const auto stable = IntArg(r, "stable", 0, static_cast<int64_t>(kMaxTimeout) * 1000, bad);
  if (bad) return answer(Error("stable must be milliseconds"));
  const int given = (text.isUndefined() ? 0 : 1) + (regex.isUndefined() ? 0 : 1) + (stable ? 1 : 0);
  if (given != 1) return answer(Error("wait needs one of text, regex, stable"));
  if (!text.isUndefined()) {
    if (!text.isString() || text.toString().isEmpty()) return answer(Error("text must be a non-empty string"));
    w.Query.Text = text.toString();
  } else if (!regex.isUndefined()) {
    if (!regex.isString()) return answer(Error("regex must be a string"));
    w.Query.Regex.setPattern(regex.toString());
    if (!w.Query.Regex.isValid()) return answer(Error("bad regex"));
  } else {
    w.StableMs = static_cast<int>(*stable);
  }
  const auto row = IntArg(r, "row", 0, TScreen::kRows - 1, bad);
  if (bad) return answer(Error("row must be 0-24"));
  const auto col = IntArg(r, "col", 0, TScreen::kCols - 1, bad);
  if (bad) return answer(Error("col must be 0-79"));
  const auto attr = IntArg(r, "attr", 0, 255, bad);
  if (bad) return answer(Error("attr must be 0-255"));
  w.Query.Row = row.value_or(-1);
  w.Query.Col = static_cast<int>(col.value_or(0));
  w.Query.Attr = static_cast<int>(attr.value_or(-1));
  double timeout = kDefaultTimeout;
  if (r.contains(QLatin1String("timeout"))) {
    const QJsonValue t = r.value(QLatin1String("timeout"));
    timeout = t.toDouble(-1);
    if (!t.isDouble() || !std::isfinite(timeout) || timeout < 0 || timeout > kMaxTimeout) {
      return answer(Error("timeout must be 0-86400 seconds"));
    }
  }
  w.Client = client.Serial;
  w.HasId = r.contains(QLatin1String("id"));
  w.Id = r.value(QLatin1String("id"));

  // Answered at once when it holds already.
  if (w.StableMs < 0) {
    bool tooSlow = false;
    const auto hit = FindOnScreen(Session.Screen, ScreenRowsText(Session.Screen), w.Query, tooSlow);
    if (tooSlow) return answer(Error("regex too slow"));
    if (hit) {
      QJsonObject o = ScreenObject();
      o["row"] = hit->Row;
      o["col"] = hit->Col;
      return answer(o);
    }
  } else if (NowMs() - LastChangeMs >= w.StableMs) {
    return answer(ScreenObject());
  }

  Waits.push_back(std::move(w));
  const auto it = std::prev(Waits.end());
  ++client.Waits;
  it->Timeout = std::make_unique<QTimer>();
  it->Timeout->setSingleShot(true);
  QObject::connect(it->Timeout.get(), &QTimer::timeout, [this, it] { FinishWait(it, false, 0, 0, "timeout"); });
  it->Timeout->start(static_cast<int>(std::llround(timeout * 1000)));
  if (it->StableMs >= 0) {
    it->Stable = std::make_unique<QTimer>();
    it->Stable->setSingleShot(true);
    it->Stable->setTimerType(Qt::PreciseTimer);  // a coarse timer may fire 5% early
    QObject::connect(it->Stable.get(), &QTimer::timeout, [this, it] { FinishWait(it, true, -1, -1); });
    it->Stable->start(static_cast<int>(std::max<int64_t>(0, it->StableMs - (NowMs() - LastChangeMs))));
  }
}

void TControlHub::FinishWait(std::list<TWait>::iterator wait, bool ok, int row, int col, const char* error) {
  QJsonObject o = ScreenObject();
  if (!ok) {
    o["ok"] = false;
    o["error"] = QLatin1String(error);
  } else if (row >= 0) {
    o["row"] = row;
    o["col"] = col;
  }
  if (wait->HasId) o["id"] = wait->Id;
  TControlClient* client = Find(wait->Client);
  if (client != nullptr && client->Waits > 0) --client->Waits;
  if (client != nullptr && client->Outstanding_ > 0) --client->Outstanding_;
  // The timers go with the wait; its timer may be the one calling: freed at the
  // next tick (deleteLater would wait for the end of the service loop).
  for (auto* timer : {&wait->Timeout, &wait->Stable}) {
    if (*timer) {
      (*timer)->stop();
      DeadTimers.push_back(std::move(*timer));
    }
  }
  Waits.erase(wait);
  if (client != nullptr) Send(*client, o);
}

void TControlHub::CheckWaits() {
  std::optional<TScreenRows> rows;  // made once, for the first wait that searches
  for (auto it = Waits.begin(); it != Waits.end();) {
    const auto next = std::next(it);  // FinishWait erases `it` only; a client it drops keeps its waits till the tick
    if (it->Client == 0) {
      // The wait of a client that has gone.
    } else if (it->StableMs >= 0) {
      it->Stable->start(it->StableMs);
    } else {
      if (!rows) rows = ScreenRowsText(Session.Screen);
      bool tooSlow = false;
      const auto hit = FindOnScreen(Session.Screen, *rows, it->Query, tooSlow);
      if (hit) {
        FinishWait(it, true, hit->Row, hit->Col);
      } else if (tooSlow) {
        // It would hold the board up at every change: it ends here.
        FinishWait(it, false, 0, 0, "regex too slow");
      }
    }
    it = next;
  }
}

void TControlHub::ScreenChanged() {
  LastChangeMs = NowMs();
  CheckWaits();
}

void TControlHub::SendScreenEvent(TControlClient& client) {
  const TScreen& s = Session.Screen;
  if (client.ScreenSent && client.ChangesSent == s.Changes) return;
  // A client that has not read what it was sent gets the changes merged later.
  if (client.ScreenSent && client.Transport->Pending() > kMergeAbove) return;
  // A screen that scrolled: the client moves its copy, and gets only the rows
  // that still differ (a line of teletype output costs a row, not the screen).
  int scrolled = 0;
  if (client.Scroll && client.ScreenSent) {
    scrolled = ScrolledRows(client.Cells.data(), s.VideoBuffer.data());
    ScrollCells(client.Cells.data(), scrolled);
  }
  QJsonArray rows;
  for (int row = 0; row < TScreen::kRows; ++row) {
    const auto* cells = &s.VideoBuffer[static_cast<size_t>(row * TScreen::kCols)];
    auto* sent = &client.Cells[static_cast<size_t>(row * TScreen::kCols)];
    if (client.ScreenSent && std::equal(cells, cells + TScreen::kCols, sent)) continue;
    std::copy(cells, cells + TScreen::kCols, sent);
    if (RowsChanges != s.Changes) {
      RowBuilt.fill(false);
      RowsChanges = s.Changes;
    }
    const auto r = static_cast<size_t>(row);
    if (!RowBuilt[r]) {
      Rows[r] = QJsonObject{{"row", row},
                            {"text", ScreenRowText(s, row)},
                            {"cells", QString::fromLatin1(Base64(cells, TScreen::kCols * sizeof(display::TScreenCell)))}};
      RowBuilt[r] = true;
    }
    rows.append(Rows[r]);
  }
  const bool cursorMoved = s.CursorCol != client.CursorCol || s.CursorRow != client.CursorRow;
  const bool full = !client.ScreenSent;
  client.ScreenSent = true;
  client.ChangesSent = s.Changes;
  if (rows.isEmpty() && !cursorMoved && !full && scrolled == 0) return;
  client.CursorCol = s.CursorCol;
  client.CursorRow = s.CursorRow;
  QJsonObject e;
  e["event"] = QStringLiteral("screen");
  e["full"] = full;
  if (scrolled > 0) e["scroll"] = scrolled;
  e["cursor"] = QJsonArray{s.CursorCol, s.CursorRow};
  e["rows"] = rows;
  Send(client, e);
}

void TControlHub::SendStatusEvent(TControlClient& client) {
  QJsonObject status = StatusObject(&client);
  status.remove(QLatin1String("ok"));
  status["event"] = QStringLiteral("status");
  const std::string text = QJsonDocument(status).toJson(QJsonDocument::Compact).toStdString();
  if (text == client.StatusSent) return;
  if (client.Transport->Pending() > kMergeAbove) {
    client.StatusOwed = true;  // the latest, once it has drained
    return;
  }
  client.StatusOwed = false;
  client.StatusSent = text;
  Send(client, status);
}

void TControlHub::Refresh(bool /*screenDirty*/) {
  Graveyard.clear();
  DeadTimers.clear();
  Waits.remove_if([](const TWait& w) { return w.Client == 0; });
  const bool status = StatusDirty;
  StatusDirty = false;
  std::vector<uint64_t> serials;
  for (const auto& c : Clients_) serials.push_back(c->Serial);
  for (uint64_t serial : serials) {
    TControlClient* c = Find(serial);
    if (c == nullptr || !c->Subscribed_) continue;
    SendScreenEvent(*c);
    if ((c = Find(serial)) != nullptr && (status || c->StatusOwed)) SendStatusEvent(*c);
  }
}

// The status word (and, every 500 ms, the byte count): the events follow at the next tick.
void TControlHub::StatusChanged(const std::string& /*text*/) { StatusDirty = true; }

void TControlHub::WriterChanged() {
  StatusDirty = true;
  SendRoleEvents();
}

void TControlHub::SendRoleEvents() {
  std::vector<uint64_t> serials;
  for (const auto& c : Clients_) serials.push_back(c->Serial);
  for (uint64_t serial : serials) {
    TControlClient* c = Find(serial);
    if (c == nullptr) continue;
    const bool writer = Session.IsWriter(c);
    if (writer == c->WasWriter) continue;
    c->WasWriter = writer;
    QJsonObject e;
    e["event"] = QStringLiteral("role");
    e["writer"] = writer;
    Send(*c, e);
  }
}

void TControlHub::AnswerConnects(const QJsonObject& answer) {
  auto pending = std::move(Connects);
  Connects.clear();
  for (const auto& p : pending) {
    TControlClient* c = Find(p.Client);
    if (c == nullptr) continue;
    if (c->Outstanding_ > 0) --c->Outstanding_;
    QJsonObject o = answer;
    if (p.HasId) o["id"] = p.Id;
    Send(*c, o);
  }
}

void TControlHub::ConnectionChanged(bool connected) {
  StatusDirty = true;
  if (connected) AnswerConnects(Ok());
}

void TControlHub::Failure(const std::string& text, const std::string& detail) {
  if (Connects.empty()) return;
  const std::string phrase = text + (detail.empty() ? "" : ": " + detail);
  AnswerConnects(Error(phrase.c_str()));
}

void TControlHub::LoopEnded() {
  if (!Session.Connected()) AnswerConnects(Error("not connected"));
}

}  // namespace app
