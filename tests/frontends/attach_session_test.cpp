// The --attach seat without a socket: the console's lines fed in, the requests
// it sends caught, and the real terminal view on top.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <string>
#include <vector>

#include "frontends/attach_session.h"
#include "frontends/terminal_view.h"

namespace {

class AttachSessionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "attach_session_test";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) new QCoreApplication(argc, argv);
  }
  void SetUp() override {
    Session.SendHook = [this](const std::string& line) {
      Sent.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(line)).object());
    };
    Out = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    app::TTerminalView::TConfig config;
    config.InFd = Out;  // never read: keys come through Typed
    config.OutFd = Out;
    View = std::make_unique<app::TTerminalView>(Session, config);
    View->SetSize({80, 26});
  }
  void TearDown() override {
    View.reset();
    ::close(Out);
  }
  void Type(const std::string& bytes) {
    View->Typed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 0);
  }
  // What was sent since the last call, each as "cmd" or "keyevent CODE down|up".
  std::vector<std::string> Requests() {
    std::vector<std::string> out;
    for (const QJsonObject& o : Sent) {
      std::string r = o.value("cmd").toString().toStdString();
      if (o.contains("code")) r += " " + o.value("code").toString().toStdString() + (o.value("down").toBool() ? " down" : " up");
      if (o.contains("key")) r += " " + o.value("key").toString().toStdString();
      out.push_back(r);
    }
    Sent.clear();
    return out;
  }
  void Answer(double id) { Session.Received(R"({"ok":true,"id":)" + std::to_string(static_cast<int>(id)) + "}"); }

  app::TAttachSession Session;
  std::vector<QJsonObject> Sent;
  int Out = -1;
  std::unique_ptr<app::TTerminalView> View;
};

// 80 cells of 'A' (0x41) in attribute 0x1E, base64: "QR5BHkEe...".
std::string RowOfA(int cells) {
  QByteArray bytes;
  for (int i = 0; i < cells; ++i) bytes.append("\x41\x1e", 2);
  return bytes.toBase64().toStdString();
}

TEST_F(AttachSessionTest, ScreenEventsKeepACopyAndWhatDoesNotFitChangesNothing) {
  const display::TScreen& s = Session.Screen();
  Session.Received(R"({"event":"screen","full":true,"cursor":[5,7],"rows":[{"row":3,"cells":")" + RowOfA(80) + R"("}]})");
  EXPECT_EQ(s.Cell(0, 3), (display::TScreenCell{0x41, 0x1E}));
  EXPECT_EQ(s.Cell(79, 3), (display::TScreenCell{0x41, 0x1E}));
  EXPECT_EQ(s.CursorCol, 5);
  EXPECT_EQ(s.CursorRow, 7);
  const auto before = s.VideoBuffer;
  for (const std::string& bad : {
           R"({"event":"screen","rows":[{"row":25,"cells":")" + RowOfA(80) + R"("}]})",   // off the screen
           R"({"event":"screen","rows":[{"row":-1,"cells":")" + RowOfA(80) + R"("}]})",
           R"({"event":"screen","rows":[{"row":2.5,"cells":")" + RowOfA(80) + R"("}]})",
           R"({"event":"screen","rows":[{"row":4,"cells":")" + RowOfA(79) + R"("}]})",    // a short row
           R"({"event":"screen","rows":[{"row":4,"cells":")" + RowOfA(81) + R"("}]})",    // a long one
           std::string(R"({"event":"screen","rows":[{"row":4,"cells":"!!!!"}]})"),        // no base64
           std::string(R"({"event":"screen","rows":[{"row":4,"cells":7}]})"),
           std::string(R"({"event":"screen","cursor":[300,2]})"),
           std::string(R"({"event":"screen","cursor":[-1,2]})"),
           std::string(R"({"event":"screen","rows":)"),                                   // cut off
           std::string("[1,2,3]"),
       }) {
    Session.Received(bad);
    EXPECT_EQ(s.VideoBuffer, before) << bad;
    EXPECT_EQ(s.CursorCol, 5) << bad;
    EXPECT_EQ(s.CursorRow, 7) << bad;
  }
}

TEST_F(AttachSessionTest, StatusEventsMakeTheTerminalsStatusLine) {
  Session.Received(R"({"event":"status","connected":true,"port":"COM2","device":"/dev/ttyUSB3","bytes":1234,)"
                   R"("status":"1234","stats":{"naksSent":2,"services":{"video":5,"keyboard":1}},)"
                   R"("floppy":{"image":"dos.img","writeProtected":true,"message":"","trouble":false},)"
                   R"("shift":"CAPS CTRL","writer":false,"mayTake":true})");
  View->SetSize({200, 26});  // room for every part
  EXPECT_EQ(View->StatusLine(),
            " COM2 /dev/ttyUSB3 | connected | 1234 bytes | 6 req 2 err | A: dos.img read-only | CAPS CTRL | view"
            " | Ctrl-] ? help");
  Type("\x1di");  // the statistics by service, as the console's own terminal shows them
  EXPECT_EQ(View->StatusLine(), " req 6: vid 5 kbd 1 | NAK out 2");
}

TEST_F(AttachSessionTest, AViewerSendsNoKeysAndTheCommandKeyMapsToRequests) {
  Requests();  // subscribe is not sent without a socket; nothing else either
  Type("ab");
  EXPECT_TRUE(Requests().empty());
  EXPECT_NE(View->StatusLine().find("keys are not sent"), std::string::npos) << View->StatusLine();
  Type("\x1dw");
  EXPECT_EQ(Requests(), std::vector<std::string>{"take"});
  Session.Received(R"({"event":"role","writer":true})");
  EXPECT_TRUE(Session.MayType());
  Type("a\x1b[D\x1d" "d\x1dr");
  EXPECT_EQ(Requests(), (std::vector<std::string>{"keyevent KeyA down", "keyevent KeyA up", "keyevent ArrowLeft down",
                                                   "keyevent ArrowLeft up", "key Ctrl+Alt+Delete", "refresh"}));
  Type("\x1dv");
  EXPECT_EQ(Requests(), std::vector<std::string>{"release"});
}

TEST_F(AttachSessionTest, KeysInFlightAreBoundedAndTheRestFollowTheAnswers) {
  Session.Received(R"({"event":"role","writer":true})");
  Type(std::string(40, 'a'));  // 80 key events
  std::vector<double> ids;
  for (const QJsonObject& o : Sent) ids.push_back(o.value("id").toDouble());
  EXPECT_EQ(Requests().size(), app::TAttachSession::kMaxKeysInFlight);
  size_t total = ids.size();
  while (!ids.empty()) {
    for (double id : ids) Answer(id);
    ids.clear();
    for (const QJsonObject& o : Sent) ids.push_back(o.value("id").toDouble());
    total += Requests().size();
  }
  EXPECT_EQ(total, 80U);
}

TEST_F(AttachSessionTest, CtrlBracketHPlaysTheHistoryAndAKeyGoesBackToLive) {
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
  app::TTerminalView::TConfig config;
  config.InFd = Out;
  config.OutFd = fds[1];
  View = std::make_unique<app::TTerminalView>(Session, config);
  View->SetSize({80, 26});
  const auto drawn = [&] {
    std::string out;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) out.append(buffer, static_cast<size_t>(n));
    return out;
  };
  Session.Received(R"({"event":"role","writer":true})");
  Requests();

  // A console that keeps no history says so on the status line.
  Type("\x1dh");
  ASSERT_EQ(Sent.size(), 1U);
  EXPECT_EQ(Sent[0].value("seconds").toInt(), 600);
  double id = Sent[0].value("id").toDouble();
  Requests();
  Session.Received(R"({"ok":false,"error":"unknown command","id":)" + std::to_string(static_cast<int>(id)) + "}");
  EXPECT_EQ(View->StatusLine(), " history: unknown command");

  Type("\x1dh");
  id = Sent[0].value("id").toDouble();
  Requests();
  const QString cast = "{\"version\": 2, \"width\": 80, \"height\": 25}\n[3.0, \"o\", \"BOOT-1\"]\n"
                       "[3.5, \"m\", \"connect COM1\"]\n[90.0, \"o\", \"LATER\"]\n";
  Session.Received(QJsonDocument(QJsonObject{{"ok", true}, {"id", id}, {"cast", cast}})
                       .toJson(QJsonDocument::Compact).toStdString());
  const std::string first = drawn();
  EXPECT_NE(first.find("BOOT-1"), std::string::npos);
  EXPECT_NE(first.find("last 10 minutes"), std::string::npos);
  EXPECT_EQ(first.find("LATER"), std::string::npos);  // due a quarter of a second later

  Type("x");  // ends the replay; not for the board
  EXPECT_TRUE(Requests().empty());
  EXPECT_EQ(View->StatusLine(), " live again");
  ::close(fds[0]);
  ::close(fds[1]);
}

}  // namespace
