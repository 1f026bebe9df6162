// The control hub with a transport of the test's own: what a client that
// reads nothing is sent (screen events merged while much is unread, closed
// past 1 MiB), the answers' ids, and requests in flight when a client goes.
#include "frontends/control_hub.h"
#include "frontends/screen_scroll.h"

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

// A client's copy of the screen kept by its screen events, moved as "scroll" says.
void Apply(QByteArray& copy, const QJsonObject& event) {
  const int n = event.value("scroll").toInt();
  if (n > 0) {
    copy = copy.mid(n * 160) + QByteArray(n * 160, '\0');
    for (int i = (25 - n) * 160; i < 4000; i += 2) copy[i] = 0x20, copy[i + 1] = 0x07;
  }
  for (const auto& row : event.value("rows").toArray()) {
    const QJsonObject r = row.toObject();
    copy.replace(r.value("row").toInt() * 160, 160, QByteArray::fromBase64(r.value("cells").toString().toLatin1()));
  }
}

TEST_F(ControlHubTest, AScrollingScreenCostsTheClientsThatMoveTheirCopyOnlyTheNewRows) {
  for (int row = 0; row < 25; ++row) Write(row, ("line " + std::to_string(row)).c_str());
  TFakeTransport moves, plain;
  Hub.Receive(Hub.Open(moves, true, "moves"), R"({"cmd":"subscribe","scroll":true})");
  Hub.Receive(Hub.Open(plain, true, "plain"), R"({"cmd":"subscribe"})");
  QByteArray copy(4000, '\0');
  Apply(copy, moves.Events("screen")[0]);

  struct TStep {
    int Up;        // lines the board's output moved the screen up
    int Scroll;    // the event's "scroll" (0: none)
    int Rows;      // rows the event carries
  };
  // Two lines of output, then one line rewritten in place, then a screen cleared.
  for (const TStep step : {TStep{2, 2, 2}, TStep{0, 0, 1}, TStep{25, 0, 25}}) {
    SCOPED_TRACE(step.Up);
    if (step.Up == 0) {
      Write(10, "rewritten");
    } else {
      Session.Screen.CursorRow = 24;
      for (int i = 0; i < step.Up; ++i) Session.Screen.TelePutch('\n');  // a line feed on the last row
      for (int row = 25 - step.Up; row < 25; ++row) Write(row, ("new " + std::to_string(step.Up * 100 + row)).c_str());
    }
    Tick();
    const QJsonObject e = moves.Events("screen").back();
    EXPECT_EQ(e.value("scroll").toInt(), step.Scroll);
    EXPECT_EQ(e.value("rows").toArray().size(), step.Rows);
    Apply(copy, e);
    EXPECT_EQ(copy, QByteArray::fromBase64(Hub.ScreenObject().value("cells").toString().toLatin1()));
    EXPECT_FALSE(plain.Events("screen").back().contains("scroll"));
  }
  EXPECT_EQ(plain.Events("screen")[1].value("rows").toArray().size(), 25);
}

// Screens given a letter a row (the row filled with it, attribute 07h): the
// rows moved up, and the rows that still differ once the copy has moved.
TEST(ScrolledRows, TheMoveThatLeavesTheMostRowsEqualAndOnlyWhenItSavesARow) {
  struct TCase {
    const char* Before;
    const char* Now;
    int Scroll;
    int Differ;
  };
  constexpr const char* kLetters = "ABCDEFGHIJKLMNOPQRSTUVWXY";
  constexpr const char* kBlank = "                         ";
  const TCase cases[] = {
      {kLetters, kLetters, 0, 0},                     // unchanged
      {kLetters, "BCDEFGHIJKLMNOPQRSTUVWXY ", 1, 0},  // a line feed on the last row
      {kLetters, "DEFGHIJKLMNOPQRSTUVWXYabc", 3, 3},  // three lines in one tick
      {kLetters, "abcdefghijklmnopqrstuvwxy", 0, 25}, // all new
      {kLetters, "BCxxxxxxxxxxxxxxxxxxxxxxY", 1, 23}, // moving saves one row
      {kLetters, "BxxxxxxxxxxxxxxxxxxxxxxxY", 0, 24}, // a tie stays in place
      {kBlank, "A                        ", 0, 1},    // blank rows alike: written in place
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Now);
    auto fill = [](const char* rows) {
      std::vector<display::TScreenCell> cells(25 * 80);
      for (size_t i = 0; i < cells.size(); ++i) cells[i] = {static_cast<uint8_t>(rows[i / 80]), 0x07};
      return cells;
    };
    std::vector<display::TScreenCell> before = fill(c.Before);
    const std::vector<display::TScreenCell> now = fill(c.Now);
    EXPECT_EQ(app::ScrolledRows(before.data(), now.data()), c.Scroll);
    app::ScrollCells(before.data(), c.Scroll);
    int differ = 0;
    for (int row = 0; row < 25; ++row) {
      differ += std::equal(now.begin() + row * 80, now.begin() + row * 80 + 80, before.begin() + row * 80) ? 0 : 1;
    }
    EXPECT_EQ(differ, c.Differ);
  }
}

}  // namespace
