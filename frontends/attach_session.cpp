#include "frontends/attach_session.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "keyboard/dom_codes.h"
#include "keyboard/key_message.h"

namespace app {

using display::TScreen;

namespace {

constexpr int kTickMs = 100;
// What waits for a console that reads nothing: the user's few commands and
// the keys in flight fit many times.
constexpr size_t kMaxUnsent = 1 << 20;
constexpr size_t kRowBytes = TScreen::kCols * sizeof(display::TScreenCell);
// The cursor the board can set: a byte each.
constexpr double kMaxCursor = 255;

// A count from the console: a whole number, not negative.
uint64_t CountOf(const QJsonValue& v) {
  const double d = v.toDouble(-1);
  if (!std::isfinite(d) || d < 0 || d >= 9.2e18) return 0;
  return static_cast<uint64_t>(d);
}

std::string StringOf(const QJsonValue& v, const std::string& otherwise) {
  return v.isString() ? v.toString().toStdString() : otherwise;
}

std::string Reason(int error) { return std::strerror(error); }

}  // namespace

TAttachSession::TAttachSession() {
  Copy.ClearScreen();
  Ticker.setInterval(kTickMs);
  QObject::connect(&Ticker, &QTimer::timeout, [this] { Tick(); });
}

TAttachSession::~TAttachSession() {
  ReadNotifier.reset();
  WriteNotifier.reset();
  if (Fd >= 0) ::close(Fd);
}

bool TAttachSession::Open(const std::string& path, std::string& error) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) {
    error = "the path is too long for a socket";
    return false;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  Fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (Fd < 0 || ::connect(Fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    error = errno == ECONNREFUSED ? "no console listens there (Connection refused)" : Reason(errno);
    return false;
  }
  ::fcntl(Fd, F_SETFL, ::fcntl(Fd, F_GETFL) | O_NONBLOCK);
  ReadNotifier = std::make_unique<QSocketNotifier>(Fd, QSocketNotifier::Read);
  QObject::connect(ReadNotifier.get(), &QSocketNotifier::activated, [this] { Readable(); });
  WriteNotifier = std::make_unique<QSocketNotifier>(Fd, QSocketNotifier::Write);
  WriteNotifier->setEnabled(false);
  QObject::connect(WriteNotifier.get(), &QSocketNotifier::activated, [this] { Writable(); });
  Ticker.start();
  Request(QJsonObject{{"cmd", "subscribe"}}, nullptr);
  return true;
}

void TAttachSession::AddView(ISessionView* view) { Views.push_back(view); }

void TAttachSession::RemoveView(ISessionView* view) { std::erase(Views, view); }

void TAttachSession::Each(const std::function<void(ISessionView&)>& tell) {
  const auto views = Views;  // a view may leave meanwhile
  for (ISessionView* v : views) {
    if (std::find(Views.begin(), Views.end(), v) != Views.end()) tell(*v);
  }
}

void TAttachSession::Tick() {
  const bool dirty = Dirty;
  Dirty = false;
  Each([dirty](ISessionView& v) { v.Refresh(dirty); });
}

// ---- what goes to the console

void TAttachSession::Request(QJsonObject request, TAnswered answered) {
  if (Ended) return;
  const int64_t id = NextId++;
  request["id"] = static_cast<double>(id);
  if (answered) Waiting[id] = std::move(answered);
  Write(QJsonDocument(request).toJson(QJsonDocument::Compact).toStdString() + "\n");
}

void TAttachSession::KeyRequest(QJsonObject request) {
  if (Ended) return;
  ++KeysInFlight;
  Request(std::move(request), [this](const QJsonObject& answer) {
    if (KeysInFlight > 0) --KeysInFlight;
    if (!answer.value("ok").toBool()) Refused("key", answer);
    Each([](ISessionView& v) { v.KeysRead(); });
  });
}

void TAttachSession::Refused(const std::string& what, const QJsonObject& answer) {
  const std::string error = StringOf(answer.value("error"), "refused");
  Each([&](ISessionView& v) { v.Failure(what + " refused", error); });
}

void TAttachSession::SendKeys(const keyboard::TTerminalInput& input) {
  if (input.Kind != keyboard::TTerminalInput::TKind::Keys) return;
  for (const keyboard::TKeyMessage& m : input.Messages) {
    const keyboard::TDomKey key{static_cast<uint8_t>((m.LParam >> 16) & 0xFF), (m.LParam & keyboard::kLParamExtended) != 0};
    const auto code = keyboard::DomCodeOf(key);
    if (!code) continue;  // no key of the PC keyboard: the board would get nothing either
    KeyRequest(QJsonObject{{"cmd", "keyevent"},
                           {"code", QString::fromUtf8(code->data(), static_cast<qsizetype>(code->size()))},
                           {"down", (m.LParam & keyboard::kLParamRelease) == 0}});
  }
}

void TAttachSession::CtrlAltDel() { KeyRequest(QJsonObject{{"cmd", "key"}, {"key", "Ctrl+Alt+Delete"}}); }

void TAttachSession::RequestScreen() {
  Request(QJsonObject{{"cmd", "refresh"}}, [this](const QJsonObject& answer) {
    if (!answer.value("ok").toBool()) Refused("refresh", answer);
  });
}

void TAttachSession::ChangeImage(const std::string& path) {
  // The console opens it from a folder of its own: a name typed here is made
  // whole here (the name in service, offered by the prompt, is the console's).
  std::error_code error;
  const std::filesystem::path whole = std::filesystem::absolute(path, error);
  const bool asIs = error || path == Floppy.Name;
  Request(QJsonObject{{"cmd", "floppy"}, {"path", QString::fromStdString(asIs ? path : whole.string())}},
          [this](const QJsonObject& answer) {
            if (!answer.value("ok").toBool()) Refused("floppy image", answer);
          });
}

bool TAttachSession::History(int seconds, THistoryDone done) {
  Request(QJsonObject{{"cmd", "history"}, {"seconds", seconds}}, [done = std::move(done)](const QJsonObject& answer) {
    if (answer.value("ok").toBool()) {
      done(answer.value("cast").toString().toStdString(), "");
    } else {
      done("", StringOf(answer.value("error"), "refused"));
    }
  });
  return true;
}

void TAttachSession::TakeKeyboard() {
  Request(QJsonObject{{"cmd", "take"}}, [this](const QJsonObject& answer) {
    if (answer.value("ok").toBool()) {
      SetWriter(true);
    } else {
      Refused("take", answer);
    }
  });
}

void TAttachSession::ReleaseKeyboard() {
  Request(QJsonObject{{"cmd", "release"}}, [this](const QJsonObject& answer) {
    if (answer.value("ok").toBool()) SetWriter(false);
  });
}

std::string TAttachSession::ViewReason() const {
  return MayTake ? "Ctrl-] w takes the keyboard" : "this socket only watches";
}

void TAttachSession::SetWriter(bool writer) {
  if (writer == Writer) return;
  Writer = writer;
  Each([](ISessionView& v) { v.WriterChanged(); });
}

// ---- the socket

void TAttachSession::Write(const std::string& bytes) {
  if (SendHook) {
    SendHook(bytes);
    return;
  }
  if (Ended || Fd < 0) return;
  if (Out.size() + bytes.size() > kMaxUnsent) return Gone("the console reads nothing");
  Out += bytes;
  Writable();
}

void TAttachSession::Writable() {
  while (!Out.empty() && !Ended) {
    const ssize_t n = ::send(Fd, Out.data(), Out.size(), MSG_NOSIGNAL);
    if (n > 0) {
      Out.erase(0, static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      break;
    } else {
      return Gone(Reason(errno));
    }
  }
  if (WriteNotifier) WriteNotifier->setEnabled(!Out.empty() && !Ended);
}

void TAttachSession::Readable() {
  char chunk[16384];
  while (!Ended) {
    const ssize_t n = ::read(Fd, chunk, sizeof chunk);
    if (n == 0) return Gone("connection closed");
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return;
      return Gone(Reason(errno));
    }
    In.append(chunk, static_cast<size_t>(n));
    size_t start = 0;
    for (size_t end; !Ended && (end = In.find('\n', start)) != std::string::npos; start = end + 1) {
      Received(std::string_view(In).substr(start, end - start));
    }
    In.erase(0, start);
    if (In.size() > kMaxLine) return Gone("a line of over 1 MiB from the console");
  }
}

void TAttachSession::Gone(const std::string& why) {
  if (Ended) return;
  Ended = true;
  Ticker.stop();
  if (ReadNotifier) ReadNotifier->setEnabled(false);
  if (WriteNotifier) WriteNotifier->setEnabled(false);
  if (OnGone) OnGone(why);
}

// ---- what the console sends

void TAttachSession::Received(std::string_view line) {
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray(line.data(), static_cast<qsizetype>(line.size())));
  if (!doc.isObject()) return;
  const QJsonObject o = doc.object();
  const QJsonValue event = o.value("event");
  if (event.isString()) {
    if (event.toString() == QLatin1String("screen")) ScreenEvent(o);
    if (event.toString() == QLatin1String("status")) StatusEvent(o);
    if (event.toString() == QLatin1String("role") && o.value("writer").isBool()) SetWriter(o.value("writer").toBool());
    return;
  }
  const QJsonValue id = o.value("id");
  if (!id.isDouble()) return;
  const auto it = Waiting.find(static_cast<int64_t>(id.toDouble()));
  if (it == Waiting.end()) return;
  const TAnswered answered = std::move(it->second);
  Waiting.erase(it);
  answered(o);
}

void TAttachSession::ScreenEvent(const QJsonObject& event) {
  for (const QJsonValue& r : event.value("rows").toArray()) {
    const QJsonObject row = r.toObject();
    const double index = row.value("row").toDouble(-1);
    if (index < 0 || index >= TScreen::kRows || index != std::floor(index)) continue;
    const auto decoded = QByteArray::fromBase64Encoding(row.value("cells").toString().toLatin1(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != static_cast<qsizetype>(kRowBytes)) continue;
    std::memcpy(&Copy.VideoBuffer[static_cast<size_t>(index) * TScreen::kCols], decoded.decoded.constData(), kRowBytes);
  }
  const QJsonArray cursor = event.value("cursor").toArray();
  if (cursor.size() == 2) {
    const double col = cursor[0].toDouble(-1), row = cursor[1].toDouble(-1);
    if (col >= 0 && col <= kMaxCursor && row >= 0 && row <= kMaxCursor) {
      Copy.CursorCol = static_cast<int32_t>(col);
      Copy.CursorRow = static_cast<int32_t>(row);
    }
  }
  Copy.Touch();
  Dirty = true;
}

void TAttachSession::StatusEvent(const QJsonObject& event) {
  Port = StringOf(event.value("port"), Port);
  Device = StringOf(event.value("device"), Device);
  Lost = event.value("lost").toBool(Lost);
  Bytes = CountOf(event.value("bytes"));
  Shift = StringOf(event.value("shift"), Shift);
  MayTake = event.value("mayTake").toBool(MayTake);
  const QJsonObject stats = event.value("stats").toObject();
  Stats = {};
  for (const auto& c : kLinkCountNames) Stats.*(c.Field) = CountOf(stats.value(QLatin1String(c.Name)));
  const QJsonObject services = stats.value("services").toObject();
  for (size_t slot = 0; slot < kServiceSlots; ++slot) {
    Stats.Requests[slot] = CountOf(services.value(QString::fromUtf8(ServiceName(slot))));
  }
  const QJsonObject floppy = event.value("floppy").toObject();
  Floppy.Name = StringOf(floppy.value("image"), "");
  Floppy.ReadOnly = floppy.value("writeProtected").toBool();
  Floppy.Message = StringOf(floppy.value("message"), "");
  Floppy.Trouble = floppy.value("trouble").toBool();

  const bool connected = event.value("connected").toBool(IsConnected);
  if (connected != IsConnected) {
    IsConnected = connected;
    Each([connected](ISessionView& v) { v.ConnectionChanged(connected); });
  }
  const std::string status = StringOf(event.value("status"), Status);
  if (status != Status) {
    Status = status;
    Each([&status](ISessionView& v) { v.StatusChanged(status); });
  }
  if (event.value("writer").isBool()) SetWriter(event.value("writer").toBool());
}

}  // namespace app
