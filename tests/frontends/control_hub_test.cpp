// The control hub with a transport of the test's own: what a client that
// reads nothing is sent (screen events merged while much is unread, closed
// past 1 MiB), the answers' ids, and requests in flight when a client goes.
#include "frontends/control_hub.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <string>
#include <vector>

namespace {

class TFakeTransport : public app::IControlTransport {
 public:
  void Send(const std::string& message) override {
    Sent.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(message)).object());
    Unread += message.size() + 1;
  }
  size_t Pending() const override { return Unread; }
  void Close(const std::string& why) override { Closed = why; }
  std::vector<QJsonObject> Events(const char* kind) const {
    std::vector<QJsonObject> out;
    for (const auto& m : Sent) {
      if (m.value("event").toString() == QLatin1String(kind)) out.push_back(m);
    }
    return out;
  }
  std::vector<QJsonObject> Sent;
  size_t Unread = 0;
  std::string Closed;
};

class ControlHubTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "control_hub_test";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) new QCoreApplication(argc, argv);
  }
  void Tick() { static_cast<app::ISessionView&>(Hub).Refresh(true); }
  void Write(int row, const char* text) { Session.Screen.StrOut(0x07, 0, row, text); }

  app::TSession Session{app::TOptions{}};
  app::TControlHub Hub{Session};
};

TEST_F(ControlHubTest, ScreenEventsForAClientThatReadsNothingAreMergedThenItIsClosed) {
  TFakeTransport t;
  app::TControlClient* c = Hub.Open(t, true, "test");
  Hub.Receive(c, R"({"cmd":"subscribe","id":5})");
  ASSERT_EQ(t.Sent.size(), 2u);
  EXPECT_EQ(t.Sent[0].value("id").toInt(), 5);
  EXPECT_TRUE(t.Sent[1].value("full").toBool());
  EXPECT_EQ(t.Sent[1].value("rows").toArray().size(), 25);

  Write(3, "three");
  Tick();
  auto screens = t.Events("screen");
  ASSERT_EQ(screens.size(), 2u);
  ASSERT_EQ(screens[1].value("rows").toArray().size(), 1);  // the changed row only
  EXPECT_EQ(screens[1].value("rows")[0].toObject().value("row").toInt(), 3);

  // Much unread: changes wait, merged, and go out as one event once it has drained.
  t.Unread = app::TControlHub::kMergeAbove + 1;
  Write(5, "five");
  Tick();
  Write(7, "seven");
  Tick();
  EXPECT_EQ(t.Events("screen").size(), 2u);
  t.Unread = 0;
  Tick();
  screens = t.Events("screen");
  ASSERT_EQ(screens.size(), 3u);
  const QJsonArray rows = screens[2].value("rows").toArray();
  ASSERT_EQ(rows.size(), 2);
  EXPECT_EQ(rows[0].toObject().value("row").toInt(), 5);
  EXPECT_TRUE(rows[1].toObject().value("text").toString().startsWith(QStringLiteral("seven")));

  // Answers are not merged: past 1 MiB unread the client is given up.
  t.Unread = app::TControlHub::kMaxPending;
  Hub.Receive(c, R"({"cmd":"screen"})");
  EXPECT_FALSE(t.Closed.empty());
  EXPECT_EQ(Hub.Clients(), 0u);
}

TEST_F(ControlHubTest, AClientGoneMidWaitIsToldNothingAndHoldsNothing) {
  TFakeTransport a, b;
  app::TControlClient* ca = Hub.Open(a, true, "a");
  app::TControlClient* cb = Hub.Open(b, true, "b");
  Hub.Receive(ca, R"({"cmd":"wait","text":"never","timeout":60})");
  Hub.Receive(ca, R"({"cmd":"take"})");
  EXPECT_EQ(Hub.StatusObject(cb).value("keyboard").toString(), QStringLiteral("client"));
  EXPECT_EQ(ca->Outstanding(), 1u);  // the wait
  Hub.Closed(ca);
  const size_t sent = a.Sent.size();
  Write(0, "never");
  static_cast<app::ISessionView&>(Hub).ScreenChanged();
  Tick();
  EXPECT_EQ(a.Sent.size(), sent);
  EXPECT_EQ(Hub.Clients(), 1u);
  // Its keyboard went back to the console's own front-end.
  EXPECT_EQ(Hub.StatusObject(cb).value("keyboard").toString(), QStringLiteral("console"));
  // A wait that holds already is answered at once, with the match's place and the id echoed.
  Hub.Receive(cb, R"({"cmd":"wait","text":"ever","id":"w"})");
  ASSERT_FALSE(b.Sent.empty());
  EXPECT_EQ(b.Sent.back().value("id").toString(), QStringLiteral("w"));
  EXPECT_EQ(b.Sent.back().value("col").toInt(), 1);
  EXPECT_EQ(b.Sent.back().value("row").toInt(), 0);
}

}  // namespace
