// The network port against servers played by the test (refusing, vanishing,
// silent, speaking RFC 2217), and the session losing its port and getting it
// back: the exchange abandoned, the messages on the board's screen, "Lost" in
// the status, Disconnect ending the wait, and --no-reconnect as before.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/rx_ring.h"
#include "session/net_port.h"
#include "session/reconnect_policy.h"
#include "session/session.h"
#include "tests/support/pty_board.h"

namespace {

namespace fs = std::filesystem;
using TBytes = std::vector<uint8_t>;

class NetPortTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "net_port_test";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) new QCoreApplication(argc, argv);
  }
  // Runs the event loop until `done` holds or `ms` have passed.
  static bool RunUntil(const std::function<bool()>& done, int ms = 3000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
  }
  // A server on a free loopback port; `onConnection` plays its part.
  uint16_t Serve(std::function<void(QTcpSocket*)> onConnection) {
    Server = std::make_unique<QTcpServer>();
    EXPECT_TRUE(Server->listen(QHostAddress::LocalHost, 0));
    QObject::connect(Server.get(), &QTcpServer::newConnection, Server.get(), [this, onConnection] {
      while (QTcpSocket* s = Server->nextPendingConnection()) {
        Peer = s;
        QObject::connect(s, &QTcpSocket::readyRead, s, [this, s] {
          const QByteArray b = s->readAll();
          Received.insert(Received.end(), b.begin(), b.end());
        });
        onConnection(s);
      }
    });
    return Server->serverPort();
  }
  struct TResult {
    bool Done = false;
    bool Ok = false;
    std::string Reason;
  };
  TResult Open(const std::string& url) {
    TResult r;
    Port.Open(url, [&r](bool ok, const std::string& why) { r = {true, ok, why}; });
    RunUntil([&] { return r.Done; });
    return r;
  }
  static std::string Hex(const TBytes& b) {
    std::string s;
    char x[4];
    for (uint8_t v : b) {
      std::snprintf(x, sizeof x, s.empty() ? "%02X" : " %02X", v);
      s += x;
    }
    return s;
  }

  std::unique_ptr<QTcpServer> Server;
  QTcpSocket* Peer = nullptr;
  TBytes Received;
  app::TNetPort Port;
};

struct TFailureCase {
  const char* Name;
  const char* Scheme;
  std::function<void(QTcpSocket*)> Server;  // null: nobody listens
  const char* Reason;
};

TEST_F(NetPortTest, OpenFailuresGiveTheirReasonWithinTheBound) {
  const TFailureCase cases[] = {
      {"refused", "tcp", nullptr, "connection refused"},
      {"closed at once", "rfc2217", [](QTcpSocket* s) { s->close(); }, "the server closed the connection"},
      {"silent", "rfc2217", [](QTcpSocket*) {}, "no answer within 300 ms"},
  };
  Port.SetConnectTimeout(300);
  for (const auto& c : cases) {
    uint16_t port = Serve(c.Server ? c.Server : [](QTcpSocket*) {});
    if (!c.Server) Server.reset();  // the port is free again: refused
    const auto start = std::chrono::steady_clock::now();
    const TResult r = Open(std::string(c.Scheme) + "://127.0.0.1:" + std::to_string(port));
    EXPECT_TRUE(r.Done && !r.Ok) << c.Name;
    EXPECT_NE(r.Reason.find(c.Reason), std::string::npos) << c.Name << ": " << r.Reason;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << c.Name;
    EXPECT_FALSE(Port.Enabled()) << c.Name;
    EXPECT_EQ(Port.Read(nullptr, 0), -1) << c.Name;
  }
  EXPECT_NE(Open("tcp://no-such-host.invalid:1").Reason.find("host not found"), std::string::npos);
  EXPECT_NE(Open("rfc2217://lab-server").Reason.find("port number is missing"), std::string::npos);
}

TEST_F(NetPortTest, RawServerThatClosesAtOnceIsALostPort) {
  const uint16_t port = Serve([](QTcpSocket* s) { QTimer::singleShot(50, s, [s] { s->close(); }); });
  std::string lost;
  Port.OnLost = [&lost](const std::string& reason) { lost = reason; };
  ASSERT_TRUE(Open("tcp://127.0.0.1:" + std::to_string(port)).Ok);
  ASSERT_TRUE(RunUntil([&] { return !lost.empty(); }));
  EXPECT_NE(lost.find("closed"), std::string::npos) << lost;
  EXPECT_FALSE(Port.Enabled());
  EXPECT_EQ(Port.Write("x", 1), -1);
}

// The link takes at most 64 KiB of one announcement; what is left in the port
// is announced again at once, not when the server's next segment comes.
TEST_F(NetPortTest, BytesLeftAfterTheLinksShareAreAnnouncedAgainAtOnce) {
  constexpr size_t kTotal = 200000;
  const uint16_t port = Serve([](QTcpSocket* s) { s->write(QByteArray(kTotal, 'z')); });
  size_t taken = 0;
  Port.OnRxChar = [&](uint32_t n) {
    TBytes buf(std::min<uint32_t>(n, wire::TRxRing::kMaxPerEvent));
    const int got = Port.Read(buf.data(), static_cast<uint32_t>(buf.size()));
    if (got > 0) taken += static_cast<size_t>(got);
  };
  ASSERT_TRUE(Open("tcp://127.0.0.1:" + std::to_string(port)).Ok);
  EXPECT_TRUE(RunUntil([&] { return taken == kTotal; })) << taken;
}

TEST_F(NetPortTest, Rfc2217CarriesDataBothWaysAndSetsTheRemotePort) {
  const uint16_t port = Serve([](QTcpSocket* s) { s->write("\xFF\xFD\x2C", 3); });  // DO COM-PORT-OPTION
  uint32_t announced = 0;
  Port.OnRxChar = [&announced](uint32_t n) { announced += n; };
  ASSERT_TRUE(Open("rfc2217://[::ffff:127.0.0.1]:" + std::to_string(port)).Ok);
  ASSERT_TRUE(RunUntil([&] { return Received.size() >= 15 + 31; }));
  // The opening, then 115200 8N1 for the server's port.
  EXPECT_EQ(Hex(TBytes(Received.begin(), Received.begin() + 46)),
            "FF FB 00 FF FD 00 FF FB 03 FF FD 03 FF FB 2C "
            "FF FA 2C 01 00 01 C2 00 FF F0 FF FA 2C 02 08 FF F0 FF FA 2C 03 01 FF F0 FF FA 2C 04 01 FF F0");
  Received.clear();
  Peer->write("\x77\xFF\xFF\x55", 4);
  ASSERT_TRUE(RunUntil([&] { return announced >= 3; }));
  uint8_t in[8] = {};
  ASSERT_EQ(Port.InQueCount(), 3);
  ASSERT_EQ(Port.Read(in, sizeof in), 3);
  EXPECT_EQ(Hex(TBytes(in, in + 3)), "77 FF 55");
  const uint8_t out[] = {0xFF, 0x01};
  EXPECT_EQ(Port.Write(out, 2), 2);
  // The line control of the serial component, through the server's port.
  Port.RaiseRts();
  Port.SetDTRState(false);
  Port.SetBREAKState(true);
  ASSERT_TRUE(RunUntil([&] { return Received.size() >= 3 + 3 * 7; }));
  EXPECT_EQ(Hex(Received), "FF FF 01 FF FA 2C 05 0B FF F0 FF FA 2C 05 09 FF F0 FF FA 2C 05 05 FF F0");
}

// The ports' error and break events reach the session's CommError and
// CommBreak: the status word, and RTS raised on the port that reported them
// (an RFC 2217 server's port here; the serial device's has no line to raise
// when it is closed, and the word comes all the same).
TEST_F(NetPortTest, LineErrorsAndBreaksShowTheirWordAndRaiseRts) {
  const uint16_t port = Serve([](QTcpSocket* s) { s->write("\xFF\xFD\x2C", 3); });  // DO COM-PORT-OPTION
  app::TOptions o;
  o.Com1 = "rfc2217://127.0.0.1:" + std::to_string(port);
  app::TSession session(o);
  std::vector<std::string> words;
  struct TStatus : app::ISessionView {
    std::vector<std::string>* Out = nullptr;
    void StatusChanged(const std::string& t) override { Out->push_back(t); }
  } view;
  view.Out = &words;
  session.AddView(&view);
  std::vector<std::string> said;
  QTimer::singleShot(0, [&] {
    // Connected: the opening and the line settings have gone out.
    if (RunUntil([&] { return session.Net.Enabled() && Received.size() >= 46; })) {
      Received.clear();
      const size_t before = words.size();
      session.Net.OnBreak();
      session.Net.OnError(static_cast<int>(comm::CE_FRAME));
      session.Comm.OnError(&session.Comm, static_cast<int>(comm::CE_OVERRUN));
      session.Comm.OnBreak(&session.Comm);
      said.assign(words.begin() + static_cast<std::ptrdiff_t>(before), words.end());
      RunUntil([&] { return Received.size() >= 14; });
    }
    session.Disconnect();
  });
  session.Connect(app::TConnectChoice{});
  session.RemoveView(&view);
  EXPECT_EQ(said, (std::vector<std::string>{"Break", "Error", "Error", "Break"}));
  // SET-CONTROL RTS on (11), once per event of the network port.
  EXPECT_EQ(Hex(Received), "FF FA 2C 05 0B FF F0 FF FA 2C 05 0B FF F0");
}

TEST(LineSettings, FollowTheSerialComponent) {
  comm::TComm c;
  c.SetBaudRate(comm::br115200);
  const net::TLineSettings s = app::LineSettingsOf(c);
  EXPECT_EQ(s.BitRate, 115200u);
  EXPECT_EQ(s.DataSize, 8);
  EXPECT_EQ(s.Parity, 1);
  EXPECT_EQ(s.StopSize, 1);
  c.SetParity(comm::paEven);
  c.SetStopBits(comm::sb15);
  c.SetDataBits(comm::da7);
  c.SetUserBaud(250000);
  const net::TLineSettings t = app::LineSettingsOf(c);
  EXPECT_EQ(t.BitRate, 250000u);
  EXPECT_EQ(t.DataSize, 7);
  EXPECT_EQ(t.Parity, 3);
  EXPECT_EQ(t.StopSize, 3);
}

TEST(ReconnectPolicy, LocalEveryQuarterSecondNetworkBacksOffToFiveSeconds) {
  app::TReconnectPolicy p;
  p.Reset(true);
  EXPECT_EQ(p.Next(), 250);
  EXPECT_EQ(p.Next(), 250);
  p.Reset(false);
  std::vector<int> delays;
  for (int i = 0; i < 7; ++i) delays.push_back(p.Next());
  EXPECT_EQ(delays, (std::vector<int>{500, 1000, 2000, 4000, 5000, 5000, 5000}));
}

// The session on a local port named by a symlink, as /dev/serial/by-id names are.
class SessionReconnectTest : public NetPortTest {
 protected:
  void SetUp() override {
    Dir = fs::temp_directory_path() / ("consolew-replug-" + std::to_string(::getpid()));
    fs::create_directories(Dir);
    Link = (Dir / "usb-board").string();
    Board = std::make_unique<testsupport::TPtyBoard>();
    Point(*Board);
  }
  void TearDown() override { fs::remove_all(Dir); }
  // The adapter goes, and with it its by-id name (another program's new pty
  // may get the old pts number meanwhile).
  void Unplug() {
    Board->Hangup();
    fs::remove(Link);
  }
  void Point(const testsupport::TPtyBoard& board) {
    fs::remove(Dir / "tmp");
    fs::create_symlink(board.SlavePath(), Dir / "tmp");
    fs::rename(Dir / "tmp", Link);
  }
  std::string ScreenText(const app::TSession& s) {
    std::string text;
    for (int r = 0; r < 25; ++r) {
      for (int c = 0; c < 80; ++c) text += static_cast<char>(s.Screen.Cell(c, r).Char);
      text += '\n';
    }
    return text;
  }
  // Connects `session` and runs `script` from inside the service loop (once
  // Connect has opened the port: a network port opens in a wait of its own).
  void WhileConnected(app::TSession& session, std::function<void()> script) {
    std::function<void()> run = [&] {
      if (!session.Connected()) {
        QTimer::singleShot(5, run);
        return;
      }
      script();
      session.Disconnect();
    };
    QTimer::singleShot(0, run);
    app::TConnectChoice choice;
    session.Connect(choice);
  }

  fs::path Dir;
  std::string Link;
  std::unique_ptr<testsupport::TPtyBoard> Board;
};

TEST_F(SessionReconnectTest, LostPortIsWaitedForAndReopenedWhenItComesBack) {
  app::TOptions o;
  o.Com1 = Link;
  app::TSession session(o);
  std::string status;
  struct TStatus : app::ISessionView {
    std::string* Out;
    void StatusChanged(const std::string& t) override { *Out = t; }
  } view;
  view.Out = &status;
  session.AddView(&view);
  WhileConnected(session, [&] {
    ASSERT_TRUE(RunUntil([&] { return session.Comm.Enabled(); }));
    // Half a request, then the cable is pulled: the exchange is abandoned.
    Board->Write({0x77, 0x0D, 0x00});
    ASSERT_TRUE(RunUntil([&] { return session.Link.Rx.RxCount >= 3; }));
    Unplug();
    ASSERT_TRUE(RunUntil([&] { return session.PortLost(); }));
    EXPECT_NE(ScreenText(session).find("Serial port lost: waiting for it to come back"), std::string::npos);
    EXPECT_TRUE(RunUntil([&] { return status == "Lost"; }, 1000));
    EXPECT_TRUE(session.Connected());
    // Plugged in again, under the same name but another pty.
    auto again = std::make_unique<testsupport::TPtyBoard>();
    Point(*again);
    const auto back = std::chrono::steady_clock::now();
    ASSERT_TRUE(RunUntil([&] { return !session.PortLost(); }, 2000));
    EXPECT_LT(std::chrono::steady_clock::now() - back, std::chrono::seconds(1));
    EXPECT_NE(ScreenText(session).find("Serial port back"), std::string::npos);
    // Nothing of the half request is left to complete a packet with.
    EXPECT_FALSE(session.Link.Rx.RxHasData());
    Board = std::move(again);
    // Lost again, and Disconnect ends the waiting: a new port is not opened.
    Unplug();
    ASSERT_TRUE(RunUntil([&] { return session.PortLost(); }));
  });
  EXPECT_FALSE(session.PortLost());
  testsupport::TPtyBoard later;
  Point(later);
  RunUntil([] { return false; }, 600);
  EXPECT_FALSE(session.Comm.Enabled());
  session.RemoveView(&view);
}

TEST_F(SessionReconnectTest, NoReconnectKeepsTheOldMessage) {
  app::TOptions o;
  o.Com1 = Link;
  o.NoReconnect = true;
  app::TSession session(o);
  WhileConnected(session, [&] {
    ASSERT_TRUE(RunUntil([&] { return session.Comm.Enabled(); }));
    Board->Hangup();
    ASSERT_TRUE(RunUntil([&] {
      return ScreenText(session).find("Serial port lost: press Disconnect") != std::string::npos;
    }));
    EXPECT_FALSE(session.PortLost());
  });
}

// A serial server in front of a missing adapter (ser2net: "Device open
// failure") accepts every connection, says why and closes it.
class SessionServerTest : public SessionReconnectTest {
 protected:
  static constexpr const char* kWords = "Device open failure: Value or file not found\r\n";
  // Connections after the first `keep` are told kWords and closed at once.
  uint16_t ServeFailing(int keep) {
    return Serve([this, keep](QTcpSocket* s) {
      if (++Accepted <= keep) return;
      s->write(kWords);
      s->disconnectFromHost();
    });
  }
  int Accepted = 0;
};

TEST_F(SessionServerTest, ConnectFailsWithTheServersOwnWords) {
  app::TOptions o;
  o.Com1 = "tcp://127.0.0.1:" + std::to_string(ServeFailing(0));
  app::TSession session(o);
  struct TFailure : app::ISessionView {
    std::string Text;
    void Failure(const std::string& t, const std::string& d) override { Text = t + ": " + d; }
  } view;
  session.AddView(&view);
  std::vector<std::string> notices;
  session.NoticeOut = [&](const std::string& l) { notices.push_back(l); };
  QTimer::singleShot(3000, [&session] { session.Disconnect(); });  // a hang is not a pass
  session.Connect(app::TConnectChoice{});
  EXPECT_EQ(view.Text, "Error Opening COM: " + o.Com1 +
                           ": the server said: Device open failure: Value or file not found");
  EXPECT_FALSE(session.Connected());
  EXPECT_TRUE(notices.empty()) << notices.front();
  session.RemoveView(&view);
}

TEST_F(SessionServerTest, ServerThatClosesEveryNewConnectionIsNeverBack) {
  app::TOptions o;
  o.Com1 = "tcp://127.0.0.1:" + std::to_string(ServeFailing(1));
  app::TSession session(o);
  std::vector<std::string> notices;
  session.NoticeOut = [&](const std::string& l) { notices.push_back(l); };
  WhileConnected(session, [&] {
    for (int i = 0; i < 10; ++i) session.Tick();  // up for a second: no longer on trial
    Peer->disconnectFromHost();                  // the adapter is pulled
    ASSERT_TRUE(RunUntil([&] { return session.PortLost() && session.ReconnectDelay() > 0; }));
    std::vector<int> delays;
    for (int attempt = 2; attempt <= 6; ++attempt) {
      session.ReopenNow();
      ASSERT_TRUE(RunUntil([&] { return Accepted == attempt && session.ReconnectDelay() > 0; }));
      ASSERT_TRUE(RunUntil([&] { return !session.Net.Enabled(); }));
      ASSERT_TRUE(RunUntil([&] { return session.ReconnectDelay() > 0; }));
      delays.push_back(session.ReconnectDelay());
      EXPECT_TRUE(session.PortLost());
    }
    EXPECT_EQ(delays.back(), app::TReconnectPolicy::kLastNetworkMs);
  });
  // One line for the loss, one for the server's reason; never "back".
  ASSERT_EQ(notices.size(), 2U) << notices.back();
  EXPECT_NE(notices[1].find("the server said: Device open failure"), std::string::npos) << notices[1];
}

}  // namespace
