#include <gtest/gtest.h>

#include "tests/support/param_names.h"

#include <map>

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOption>
#include <QTcpServer>
#include <QTimer>
#include <chrono>
#include <atomic>
#include <thread>

#include "app/consolew.h"
#include "app/port_dialog.h"
#include "tests/floppy/floppy_fixture.h"
#include "tests/support/fake_board.h"
#include "tests/support/pty_board.h"

namespace {

using testsupport::Bytes;
using testsupport::Cat;
using testsupport::ReplyBytes;
using testsupport::RequestBytes;

class WindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "window_test";
    static char* argv[] = {name, nullptr};
    if (QApplication::instance() == nullptr) new QApplication(argc, argv);
  }

  void MakeWindow(app::TOptions options = {}) {
    Window = std::make_unique<app::TConDos>(options);
    Window->ShowMessage = [this](const QString& text, const QString& detail) {
      Messages.push_back(text);
      Details.push_back(detail);
    };
    Window->RunOpenDialog = [this](const app::TConDos::TChosen& done) { done(DialogAnswer.value_or(QString())); };
  }

  // Runs `inside` from the window's event loop while connected, then disconnects.
  void WhileConnected(const std::function<void()>& inside) {
    QTimer::singleShot(0, Window.get(), [&] {
      inside();
      Window->CloseComClick();
    });
    Window->OpenComClick();
  }

  QImage Shot() { return Window->grab().toImage(); }

  // Ticks are driven by the test alone: the session's own 100 ms timer would
  // otherwise add ticks whenever a slow redraw processes events.
  void TicksByHand() { Window->Timer1.stop(); }

  // Runs the screen menu's entry with this text, as a click on it would.
  void RunMenuEntry(const QString& text) {
    std::unique_ptr<QMenu> menu(Window->MakeScreenMenu());
    for (QAction* action : menu->actions()) {
      if (action->text() == text) {
        ASSERT_TRUE(action->isEnabled()) << text.toStdString();
        action->trigger();
        return;
      }
    }
    FAIL() << "no entry " << text.toStdString();
  }

  std::unique_ptr<app::TConDos> Window;
  std::vector<QString> Messages;
  std::vector<QString> Details;
  std::optional<QString> DialogAnswer;
};

TEST_F(WindowTest, StartsDisconnectedWithTheLayoutsInitialStates) {
  MakeWindow();
  EXPECT_EQ(Window->windowTitle(), "Remote console Nerova V1.01 for Windows");
  EXPECT_TRUE(Window->Connect->isEnabled());
  EXPECT_FALSE(Window->Disconnect->isEnabled());
  EXPECT_TRUE(Window->EnaKeyboard->isChecked());
  EXPECT_TRUE(Window->EnaVideo->isChecked());
  EXPECT_FALSE(Window->EnaFloppy->isChecked());
  EXPECT_TRUE(Window->Com1Item->isChecked());
  EXPECT_TRUE(Window->ButtonDel->isHidden());
  EXPECT_TRUE(Window->Log->isHidden());
  EXPECT_EQ(Window->Label2->text(), "0");
  EXPECT_FALSE(Window->Label2->isEnabled());
  EXPECT_EQ(Window->Connect->toolTip(), "Open COM Port");
  EXPECT_EQ(Window->EnaVideo->toolTip(), "Enamble Remote Video");
  EXPECT_EQ(Window->width(), 800);
  EXPECT_EQ(Window->height(), 25 * 19 + 41);
}

TEST_F(WindowTest, MissingDeviceIsReportedAndTheWindowStaysDisconnected) {
  app::TOptions o;
  o.Com1 = "/dev/no-such-serial-port";
  MakeWindow(o);
  Window->OpenComClick();
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_EQ(Messages[0], "Error Opening COM");
  EXPECT_TRUE(Details[0].contains("/dev/no-such-serial-port")) << Details[0].toStdString();
  EXPECT_TRUE(Details[0].endsWith("\nChoose another port: right mouse button, Serial port for COM1..."))
      << Details[0].toStdString();
  EXPECT_TRUE(Window->Connect->isEnabled());
  EXPECT_FALSE(Window->Disconnect->isEnabled());
  EXPECT_FALSE(Window->Running());
}

TEST_F(WindowTest, ControlsFollowConnectAndDisconnect) {
  testsupport::TPtyBoard board;
  app::TOptions o;
  o.Com1 = board.SlavePath();
  MakeWindow(o);
  bool connectedState = false;
  WhileConnected([&] {
    connectedState = Window->Running() && !Window->Connect->isEnabled() && Window->Disconnect->isEnabled() &&
                     !Window->EnaKeyboard->isEnabled() && !Window->EnaVideo->isEnabled() &&
                     !Window->EnaFloppy->isEnabled() && !Window->COMGroup->isEnabled();
  });
  EXPECT_TRUE(connectedState);
  EXPECT_FALSE(Window->Running());
  EXPECT_TRUE(Window->Connect->isEnabled());
  EXPECT_FALSE(Window->Disconnect->isEnabled());
  EXPECT_TRUE(Window->COMGroup->isEnabled());
  EXPECT_TRUE(Messages.empty());
}

struct TOptionCase {
  bool Keyboard, Video, Floppy;
  uint16_t Bits;
};

class WindowOptionBits : public WindowTest, public ::testing::WithParamInterface<TOptionCase> {};

TEST_P(WindowOptionBits, FollowTheCheckBoxes) {
  testsupport::TPtyBoard board;
  app::TOptions o;
  o.Com1 = board.SlavePath();
  MakeWindow(o);
  Window->EnaKeyboard->setChecked(GetParam().Keyboard);
  Window->EnaVideo->setChecked(GetParam().Video);
  Window->EnaFloppy->setChecked(GetParam().Floppy);  // ticked without a file: nothing opened
  bool imageOpen = true;
  WhileConnected([&] { imageOpen = Window->Floppy.HasImage(); });
  EXPECT_EQ(Window->OptionBits(), GetParam().Bits);
  EXPECT_FALSE(imageOpen);
}

INSTANTIATE_TEST_SUITE_P(All, WindowOptionBits,
                         ::testing::Values(TOptionCase{false, false, false, 0}, TOptionCase{true, false, false, 1},
                                           TOptionCase{false, true, false, 2}, TOptionCase{true, true, false, 3},
                                           TOptionCase{false, false, true, 4}, TOptionCase{true, true, true, 7}), testsupport::TIndexName());

TEST_F(WindowTest, TimerShowsTheByteCountEveryFifthTick) {
  MakeWindow();
  TicksByHand();
  Window->Link.Rx.RxCount = 1234;
  for (int i = 0; i < 4; ++i) Window->Timer1Timer();
  EXPECT_EQ(Window->Label2->text(), "0");
  Window->Timer1Timer();
  EXPECT_EQ(Window->Label2->text(), "1234");
}

TEST_F(WindowTest, StatusLabelsToolTipShowsTheLinkStatisticsOfThisConnection) {
  testsupport::TPtyBoard board;
  app::TOptions o;
  o.Com1 = board.SlavePath();
  MakeWindow(o);
  Window->Session.Stats.Counts.Requests[1] = 42;  // a connection before
  Window->Session.Stats.Counts.NoiseBytes = 7;
  for (int i = 0; i < 5; ++i) Window->Timer1Timer();
  const std::string before = Window->Label2->toolTip().toStdString();
  EXPECT_EQ(before.rfind("Link statistics since Connect\nRequests: 42 (handshake 0, video 42, disk 0,", 0), 0u) << before;
  EXPECT_NE(before.find("\nNoise bytes: 7\n"), std::string::npos) << before;
  std::string during;
  WhileConnected([&] {
    for (int i = 0; i < 5; ++i) Window->Timer1Timer();
    during = Window->Label2->toolTip().toStdString();
  });
  EXPECT_EQ(during.rfind("Link statistics since Connect\nRequests: 0 (", 0), 0u) << during;
  EXPECT_NE(during.find("\nNoise bytes: 0\n"), std::string::npos) << during;
}

TEST_F(WindowTest, TimerCountsTheWatchdogDown) {
  MakeWindow();
  TicksByHand();
  Window->Link.Watchdog = 2;
  Window->Timer1Timer();
  Window->Timer1Timer();
  Window->Timer1Timer();
  EXPECT_EQ(Window->Link.Watchdog, 0);
}

TEST_F(WindowTest, DelButtonShowsWhileCtrlAndAltAreHeld) {
  MakeWindow();
  TicksByHand();
  Window->Keyboard.ShiftFlags = 0x0C;
  for (int i = 0; i < 5; ++i) Window->Timer1Timer();
  EXPECT_FALSE(Window->ButtonDel->isHidden());
  Window->Keyboard.ShiftFlags = 0x08;
  for (int i = 0; i < 5; ++i) Window->Timer1Timer();
  EXPECT_TRUE(Window->ButtonDel->isHidden());
}

TEST_F(WindowTest, DelButtonQueuesDel) {
  MakeWindow();
  Window->ButtonDel->click();
  ASSERT_FALSE(Window->Keyboard.QueueEmpty());
  EXPECT_EQ(Window->Keyboard.PeekKey(), 0x5300);
}

// While a control client holds the keyboard the title says so and the Del
// button queues nothing; the keyboard given back, both as before.
TEST_F(WindowTest, TitleTellsWhenAControlClientHoldsTheKeyboard) {
  MakeWindow();
  const QString title = Window->windowTitle();
  const int client = 0;
  Window->Session.TakeKeyboard(&client);
  EXPECT_TRUE(Window->windowTitle().startsWith(title)) << Window->windowTitle().toStdString();
  EXPECT_TRUE(Window->windowTitle().contains(QStringLiteral("view"))) << Window->windowTitle().toStdString();
  Window->ButtonDel->click();
  EXPECT_TRUE(Window->Keyboard.QueueEmpty());
  Window->Session.ReleaseKeyboard(&client);
  EXPECT_EQ(Window->windowTitle(), title);
  Window->ButtonDel->click();
  EXPECT_EQ(Window->Keyboard.PeekKey(), 0x5300);
}

TEST_F(WindowTest, RefreshButtonSetsTheRefreshRequestEveryFifthTick) {
  MakeWindow();
  TicksByHand();
  Window->Rscr->setChecked(true);
  for (int i = 0; i < 4; ++i) Window->Timer1Timer();
  EXPECT_FALSE(Window->Keyboard.RefreshRequest);
  Window->Timer1Timer();
  EXPECT_TRUE(Window->Keyboard.RefreshRequest);
  Window->Rscr->setChecked(false);
  for (int i = 0; i < 5; ++i) Window->Timer1Timer();
  EXPECT_FALSE(Window->Keyboard.RefreshRequest);
}

TEST_F(WindowTest, FloppyDialogCancelledUnticksConfirmedKeepsTheName) {
  MakeWindow();
  DialogAnswer = std::nullopt;
  Window->EnaFloppy->click();
  EXPECT_FALSE(Window->EnaFloppy->isChecked());
  DialogAnswer = QString("/tmp/disk.img");
  Window->EnaFloppy->click();
  EXPECT_TRUE(Window->EnaFloppy->isChecked());
  EXPECT_EQ(Window->ImageFileName(), "/tmp/disk.img");
  Window->EnaFloppy->click();  // unticking keeps the name
  EXPECT_FALSE(Window->EnaFloppy->isChecked());
  EXPECT_EQ(Window->ImageFileName(), "/tmp/disk.img");
}

TEST_F(WindowTest, ImageOptionPreselectsTheFloppy) {
  app::TOptions o;
  o.Image = "/tmp/x.img";
  MakeWindow(o);
  EXPECT_TRUE(Window->EnaFloppy->isChecked());
  EXPECT_EQ(Window->ImageFileName(), "/tmp/x.img");
}

TEST_F(WindowTest, ScreenIsDrawnOneToOneBelowThePanelInThePaletteColours) {
  MakeWindow();
  Window->Screen.Cell(0, 0) = {' ', 0x1F};
  Window->Screen.Cell(1, 0) = {' ', 0x8F};
  Window->Screen.Cell(79, 24) = {0xDB, 0x0E};
  Window->Screen.ScreenDirty = 1;
  Window->ScreenRefresh();
  const QImage img = Shot();
  EXPECT_EQ(img.pixel(5, 41 + 9) & 0xFFFFFF, 0x00007Fu);
  EXPECT_EQ(img.pixel(15, 41 + 9) & 0xFFFFFF, 0x7F7F7Fu);
  EXPECT_EQ(img.pixel(795, 41 + 24 * 19 + 9) & 0xFFFFFF, 0xFFFF00u);
}

TEST_F(WindowTest, AnyOtherSizeStretchesTheImageOverTheWholeClientArea) {
  MakeWindow();
  Window->Screen.Cell(1, 1) = {' ', 0x4F};  // red background
  Window->resize(1600, 2 * 475 + 41);
  Window->ScreenRefresh();
  const QImage img = Shot();
  // Cell (1,1) now covers x 20-39, y 41+38 .. 41+75.
  EXPECT_EQ(img.pixel(21, 41 + 39) & 0xFFFFFF, 0x7F0000u);
  EXPECT_EQ(img.pixel(38, 41 + 74) & 0xFFFFFF, 0x7F0000u);
  EXPECT_NE(img.pixel(41, 41 + 74) & 0xFFFFFF, 0x7F0000u);
  EXPECT_EQ(Window->Marker->width(), 20);
  EXPECT_EQ(Window->Marker->height(), 2);
}

TEST_F(WindowTest, MarkerFollowsTheCursorAndBlinks) {
  MakeWindow();
  Window->ScreenRefresh();  // the first full draw
  Window->Screen.CursorCol = 5;
  Window->Screen.CursorRow = 2;
  for (int i = 0; i < 6; ++i) Window->ScreenRefresh();
  EXPECT_EQ(Window->Marker->geometry(), QRect(50, 3 * 19 + 41 - 2, 10, 2));
  std::vector<bool> blinks;
  for (int blink = 0; blink < 3; ++blink) {
    for (int i = 0; i < 6; ++i) Window->ScreenRefresh();
    blinks.push_back(Window->Marker->isVisibleTo(Window.get()));
  }
  EXPECT_EQ(blinks, (std::vector<bool>{true, false, true}));
  EXPECT_EQ(Window->Marker->geometry(), QRect(50, 3 * 19 + 41 - 2, 10, 2));
}

TEST_F(WindowTest, HandshakeAndVideoOverAPseudoTerminal) {
  testsupport::TPtyBoard board;
  app::TOptions o;
  o.Com1 = board.SlavePath();
  MakeWindow(o);
  Bytes seen;
  std::thread boardThread;
  QTimer::singleShot(0, Window.get(), [&] {
    boardThread = std::thread([&] {
      board.Write(RequestBytes(0x0B, 0x1234, 0x5678, 0, 0x0042));
      seen = board.Read(1 + 15);
      board.Write({0x55});
      board.Write(RequestBytes(0x10, 0x0E41));  // teletype 'A'
      const Bytes ack = board.Read(1);
      seen.insert(seen.end(), ack.begin(), ack.end());
    });
  });
  // Disconnect once the board has had its answers (or after five seconds).
  QTimer poll;
  int waited = 0;
  QObject::connect(&poll, &QTimer::timeout, Window.get(), [&] {
    if (seen.size() >= 17 || ++waited > 500) Window->CloseComClick();
  });
  poll.start(10);
  Window->OpenComClick();
  poll.stop();
  boardThread.join();
  EXPECT_EQ(seen, Cat({{0x55}, ReplyBytes(0, 0x1234, 0x5678, 3, 0x0042, 0), {0x55}}));
  EXPECT_EQ(Window->Screen.Cell(0, 0).Char, 'A');
  EXPECT_EQ(Window->Screen.CursorCol, 1);
}

TEST_F(WindowTest, ClosingTheWindowWhileConnectedDisconnectsAndUnwindsTheLoop) {
  testsupport::TPtyBoard board;
  app::TOptions o;
  o.Com1 = board.SlavePath();
  MakeWindow(o);
  Window->show();
  QTimer::singleShot(0, Window.get(), [&] { Window->close(); });
  Window->OpenComClick();  // returns once the loop has unwound
  EXPECT_FALSE(Window->Running());
  EXPECT_FALSE(Window->Comm.Enabled());
  QApplication::processEvents();
  EXPECT_FALSE(Window->isVisible());
}

// The layout's rectangles (window coordinates); the COM items are the two
// columns of the group's frame.
struct TControlRect {
  const char* Name;
  QRect Described;
};
const TControlRect kLayout[] = {
    {"Connect", {7, 8, 71, 25}},      {"Disconnect", {81, 8, 89, 25}}, {"R", {176, 8, 29, 25}},
    {"Keyboard", {212, 14, 65, 17}},  {"Video", {280, 14, 49, 17}},    {"Floppy...", {332, 14, 65, 17}},
    {"COM1", {408, 9, 54, 20}},       {"COM2", {464, 9, 54, 20}},
};

QWidget* ControlNamed(app::TConDos& w, const std::string& name) {
  const std::map<std::string, QWidget*> controls = {
      {"Connect", w.Connect},     {"Disconnect", w.Disconnect}, {"R", w.Rscr},
      {"Keyboard", w.EnaKeyboard}, {"Video", w.EnaVideo},        {"Floppy...", w.EnaFloppy},
      {"COM1", w.Com1Item},       {"COM2", w.Com2Item}};
  return controls.at(name);
}

// The caption's text fits the part of the control the style leaves for it.
bool CaptionFits(QWidget* control) {
  QRect contents;
  QString text;
  if (auto* check = qobject_cast<QCheckBox*>(control)) {
    QStyleOptionButton o;
    o.initFrom(check);
    contents = check->style()->subElementRect(QStyle::SE_CheckBoxContents, &o, check);
    text = check->text();
  } else if (auto* radio = qobject_cast<QRadioButton*>(control)) {
    QStyleOptionButton o;
    o.initFrom(radio);
    contents = radio->style()->subElementRect(QStyle::SE_RadioButtonContents, &o, radio);
    text = radio->text();
  } else if (auto* push = qobject_cast<QPushButton*>(control)) {
    QStyleOptionButton o;
    o.initFrom(push);
    contents = push->style()->subElementRect(QStyle::SE_PushButtonContents, &o, push);
    text = push->text();
  } else if (auto* tool = qobject_cast<QToolButton*>(control)) {
    contents = tool->rect().adjusted(2, 2, -2, -2);
    text = tool->text();
  }
  const QSize need = control->fontMetrics().size(Qt::TextShowMnemonic, text);
  return need.width() <= contents.width() && need.height() <= contents.height() + 2;
}

TEST_F(WindowTest, ControlsStandAtTheLayoutsPlacesAndCaptionsFit) {
  MakeWindow();
  for (const auto& c : kLayout) {
    QWidget* control = ControlNamed(*Window, c.Name);
    const QRect got(control->mapTo(Window.get(), QPoint(0, 0)), control->size());
    EXPECT_LE(std::abs(got.left() - c.Described.left()), 2) << c.Name;
    EXPECT_LE(std::abs(got.top() - c.Described.top()), 2) << c.Name;
    EXPECT_GE(got.width(), c.Described.width() - 2) << c.Name;
    EXPECT_GE(got.height(), c.Described.height() - 2) << c.Name;
    EXPECT_TRUE(CaptionFits(control)) << c.Name << ": caption clipped";
    // Clicks at the centre and 3 px inside the left end land on the control.
    const int y = c.Described.center().y();
    for (const QPoint p : {c.Described.center(), QPoint(c.Described.left() + 3, y)}) {
      QWidget* hit = Window->childAt(p);
      EXPECT_TRUE(hit == control || control->isAncestorOf(hit))
          << c.Name << " at " << p.x() << "," << p.y() << " hits " << (hit ? hit->metaObject()->className() : "nothing");
    }
  }
  EXPECT_FALSE(Window->Rscr->font().bold());
}

TEST_F(WindowTest, StatusLabelIsRightJustifiedAndTheShiftStateNeverCoversIt) {
  MakeWindow();
  TicksByHand();
  Window->Link.Rx.RxCount = 12345;
  Window->Keyboard.ShiftFlags = 0x7F;  // every word of the state text, ALT last
  Window->Keyboard.PrintKBDState();
  for (int i = 0; i < 5; ++i) Window->Timer1Timer();
  ASSERT_EQ(Window->Label2->text(), "12345");
  const QRect label2 = Window->Label2->geometry();
  EXPECT_EQ(label2.left() + label2.width(), Window->Panel->width() - 1);
  EXPECT_GE(label2.width(), Window->Label2->fontMetrics().horizontalAdvance("12345"));
  EXPECT_LT(Window->Label1->geometry().right(), label2.left());
  EXPECT_TRUE(Window->Label1->text().contains("ALT"));
  Window->resize(100, 100);
  EXPECT_GE(Window->width(), Window->Label1->x() + Window->Label1->width());
  EXPECT_GT(Window->height(), Window->PanelHeight);
}

TEST_F(WindowTest, MarkerKeepsTheLayoutsPlaceUntilItsFirstPlacement) {
  MakeWindow();
  TicksByHand();
  for (int i = 0; i < 5; ++i) Window->Timer1Timer();  // drawn, then idle ticks: no placement yet
  EXPECT_EQ(Window->Marker->geometry(), QRect(336, 96, 10, 2));
}

TEST_F(WindowTest, ActivationReleasesModifiersLetGoWhileADialogHadTheKeyboard) {
  MakeWindow();
  Window->Keyboard.ShiftFlags = 0x2F;  // both Shifts, Ctrl, Alt and Num Lock
  QEvent activate(QEvent::WindowActivate);
  QApplication::sendEvent(Window.get(), &activate);
  EXPECT_EQ(Window->Keyboard.ShiftFlags, 0x20);  // no key is held on this display
  EXPECT_EQ(Window->Label1->text().toStdString(), "NUML                          ");
}

TEST_F(WindowTest, FloppyDialogOffersTheImageFilter) {
  MakeWindow();
  app::TConDos window{app::TOptions{}};
  std::optional<QString> chosen;
  window.RunOpenDialog([&chosen](const QString& name) { chosen = name; });
  // Shown, with no loop of its own: the call has returned while it is open.
  auto* dialog = window.findChild<QFileDialog*>();
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_FALSE(chosen.has_value());
  EXPECT_EQ(dialog->nameFilters(), (QStringList{"*.img;*.ima", "All files (*)"}));
  dialog->reject();
  EXPECT_EQ(chosen, QString());  // cancelled
}

// A Connect click that arrives while the tick redraws the screen is handled
// once the tick has returned, so the timer keeps firing under the service loop.
TEST_F(WindowTest, ConnectClickedDuringARedrawLeavesTheTimerRunning) {
  testsupport::TPtyBoard board;
  app::TOptions o;
  o.Com1 = board.SlavePath();
  MakeWindow(o);
  Window->show();
  Window->Timer1.setInterval(5);  // 20 ticks of the watchdog in 100 ms
  int ticks = 0;
  int ticksInLoop = 0;
  Window->Session.TickHook = [&] {
    ++ticks;
    if (Window->Running()) ++ticksInLoop;
    if (ticks != 1) return;
    // Land a click on Connect inside this tick's redraw.
    const QPointF centre(Window->Connect->width() / 2.0, Window->Connect->height() / 2.0);
    for (auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
      QApplication::postEvent(Window->Connect, new QMouseEvent(type, centre, Window->Connect->mapToGlobal(centre),
                                                               Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
    }
    Window->Screen.ScreenDirty = 1;
  };
  Bytes answer;
  std::thread boardThread;
  QTimer watch;
  int phase = 0;
  int watched = 0;
  QObject::connect(&watch, &QTimer::timeout, Window.get(), [&] {
    if (++watched > 3000) {  // about 6 s: the ticks stopped
      phase = 99;
      Window->CloseComClick();
    } else if (phase == 0 && Window->Running()) {
      phase = 1;
      board.Write({0x77, 0x0B, 0x34, 0x12, 0x78});  // half a request, then silence
    } else if (phase == 1 && ticksInLoop > 30) {
      // Long past the watchdog: the half request was abandoned, a new one is read afresh.
      phase = 2;
      boardThread = std::thread([&] {
        board.Write(RequestBytes(0x0B, 0x1234, 0x5678, 0, 0x0042));
        answer = board.Read(1 + 15);
        board.Write({0x55});
      });
    } else if (phase == 2 && answer.size() >= 16 && ticksInLoop > 45) {
      phase = 3;
      Window->CloseComClick();
    }
  });
  watch.start(2);
  while (phase < 3) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  if (boardThread.joinable()) boardThread.join();
  EXPECT_EQ(phase, 3);
  EXPECT_GT(ticksInLoop, 30);
  EXPECT_EQ(answer, Cat({{0x55}, ReplyBytes(0, 0x1234, 0x5678, 3, 0x0042, 0)}));
  EXPECT_EQ(Window->Label2->text(), "19");  // 5 + 13 + 1 bytes from the board
}

// The screen image's menu: opened by the right mouse button on the image (not
// on the panel), with the console's commands in this order.
TEST_F(WindowTest, RightClickOnTheImageOpensTheScreenMenu) {
  MakeWindow();
  Window->show();
  const auto rightClick = [&](QPoint at) {
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, Window->mapToGlobal(at));
    QApplication::sendEvent(Window.get(), &event);
    return qobject_cast<QMenu*>(QApplication::activePopupWidget());
  };
  EXPECT_EQ(rightClick(QPoint(600, 20)), nullptr);  // the panel
  QMenu* menu = rightClick(QPoint(400, 200));
  ASSERT_NE(menu, nullptr);
  QStringList texts;
  for (QAction* action : menu->actions()) {
    if (!action->isSeparator()) texts << action->text();
  }
  EXPECT_EQ(texts, (QStringList{"Copy", "Copy screen text", "Save screenshot...", "Save screen text...",
                                "Paste text as keys", "Send Ctrl+Alt+Del", "Full BIOS key codes", "Change floppy image...", "Write-protect image",
                                "Link statistics...", "Serial port for COM1...", "Serial port for COM2..."}));
  menu->close();
}

// A drag over the image selects a rectangle of cells, as terminals do: the
// menu's "Copy" and the primary selection get its text, a click alone none.
TEST_F(WindowTest, DragSelectsARectangleOfCellsForCopy) {
  MakeWindow();
  Window->show();
  const char* rows[] = {"+--------+", "| Boot 1 |", "+--------+"};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; rows[r][c] != 0; ++c) Window->Screen.Cell(20 + c, 5 + r).Char = static_cast<uint8_t>(rows[r][c]);
  }
  const auto cellPoint = [&](int col, int row) { return QPoint(col * 10 + 5, 41 + row * 19 + 9); };
  const auto mouse = [&](QEvent::Type type, QPoint at, Qt::MouseButtons held) {
    QMouseEvent event(type, at, Window->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                      held, Qt::NoModifier);
    QApplication::sendEvent(Window.get(), &event);
  };
  const auto menuEntryEnabled = [&](const QString& text) {
    std::unique_ptr<QMenu> menu(Window->MakeScreenMenu());
    for (QAction* a : menu->actions()) {
      if (a->text() == text) return a->isEnabled();
    }
    return false;
  };
  mouse(QEvent::MouseButtonPress, cellPoint(22, 6), Qt::LeftButton);
  mouse(QEvent::MouseButtonRelease, cellPoint(22, 6), Qt::NoButton);
  EXPECT_FALSE(menuEntryEnabled("Copy"));  // a click selects nothing
  // From the right end of the box's middle row back to the 'B' of its top row.
  mouse(QEvent::MouseButtonPress, cellPoint(27, 6), Qt::LeftButton);
  mouse(QEvent::MouseMove, cellPoint(25, 5), Qt::LeftButton);
  mouse(QEvent::MouseMove, cellPoint(22, 5), Qt::LeftButton);
  mouse(QEvent::MouseButtonRelease, cellPoint(22, 5), Qt::NoButton);
  QGuiApplication::clipboard()->clear();
  RunMenuEntry("Copy");
  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "------\nBoot 1\n");
  if (QGuiApplication::clipboard()->supportsSelection()) {
    EXPECT_EQ(QGuiApplication::clipboard()->text(QClipboard::Selection).toStdString(), "------\nBoot 1\n");
  }
}

// The save dialogs propose a name with the date and time, and a name typed
// without its extension gets it.
TEST_F(WindowTest, SaveDialogsProposeADatedNameAndAddTheExtension) {
  MakeWindow();
  floppytest::TTempDir dir;
  for (const auto& [entry, extension] : {std::pair{"Save screenshot...", ".png"}, std::pair{"Save screen text...", ".txt"}}) {
    QString proposed;
    Window->RunSaveDialog = [&](const QString&, const QString&, const QString& name, const app::TConDos::TChosen& done) {
      proposed = name;
      done(QString::fromStdString(dir.File("typed")));
    };
    RunMenuEntry(entry);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^screen-\\d{4}-\\d{2}-\\d{2}-\\d{4}\\") + extension + "$")
                    .match(proposed)
                    .hasMatch())
        << proposed.toStdString();
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(dir.File(std::string("typed") + extension)))) << entry;
  }
  EXPECT_TRUE(Messages.empty());
}

TEST_F(WindowTest, ScreenTextGoesToTheClipboardAndToAFileAsUtf8) {
  MakeWindow();
  for (int i = 0; i < 5; ++i) Window->Screen.Cell(i, 0).Char = static_cast<uint8_t>("Hello"[i]);
  Window->Screen.Cell(3, 2) = {0xC9, 0x1F};  // box corner
  Window->Screen.Cell(4, 2) = {0xCD, 0x1F};
  Window->Screen.Cell(5, 2) = {0x01, 0x1F};  // the smiley of code 1
  Window->Screen.Cell(79, 3) = {0xFF, 0x07};  // a blank glyph at a row's end
  const std::string expected = "Hello\n\n   \u2554\u2550\u263A\n";
  QGuiApplication::clipboard()->clear();
  RunMenuEntry("Copy screen text");
  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), expected);

  floppytest::TTempDir dir;
  const std::string path = dir.File("screen.txt");
  Window->RunSaveDialog = [&](const QString&, const QString&, const QString&, const app::TConDos::TChosen& done) {
    done(QString::fromStdString(path));
  };
  RunMenuEntry("Save screen text...");
  const auto bytes = floppytest::ReadFile(path);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), expected);
  EXPECT_TRUE(Messages.empty());
}

TEST_F(WindowTest, ScreenshotIsThePngOfTheImageAtOneToOneWithTheCursorMarker) {
  MakeWindow();
  Window->Screen.Cell(0, 0) = {' ', 0x1F};
  Window->Screen.Cell(79, 24) = {0xDB, 0x0E};
  Window->Screen.CursorCol = 2;
  Window->Screen.CursorRow = 1;
  Window->Screen.ScreenDirty = 1;
  floppytest::TTempDir dir;
  const std::string path = dir.File("shot.png");
  Window->RunSaveDialog = [&](const QString&, const QString& filter, const QString&,
                              const app::TConDos::TChosen& done) {
    EXPECT_EQ(filter, "PNG images (*.png)");
    done(QString::fromStdString(path));
  };
  RunMenuEntry("Save screenshot...");
  const QImage png(QString::fromStdString(path), "PNG");
  ASSERT_FALSE(png.isNull());
  EXPECT_EQ(png.size(), QSize(800, 475));
  EXPECT_EQ(png.pixel(5, 9) & 0xFFFFFF, 0x00007Fu);             // blue background of cell (0,0)
  EXPECT_EQ(png.pixel(795, 24 * 19 + 9) & 0xFFFFFF, 0xFFFF00u);  // the yellow block
  EXPECT_EQ(png.pixel(25, 2 * 19 - 1) & 0xFFFFFF, 0xFFFFFFu);    // the marker under cell (2,1)
  EXPECT_EQ(png.pixel(25, 2 * 19 - 2) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(png.pixel(25, 2 * 19 - 3) & 0xFFFFFF, 0x000000u);
  EXPECT_EQ(png.pixel(35, 2 * 19 - 1) & 0xFFFFFF, 0x000000u);
  EXPECT_TRUE(Messages.empty());
}

TEST_F(WindowTest, AFileThatCannotBeWrittenIsReportedAndNothingIsLeft) {
  MakeWindow();
  for (const char* entry : {"Save screenshot...", "Save screen text..."}) {
    Messages.clear();
    Details.clear();
    Window->RunSaveDialog = [](const QString&, const QString&, const QString&, const app::TConDos::TChosen& done) {
      done(QStringLiteral("/no/such/dir/out.file"));
    };
    RunMenuEntry(entry);
    ASSERT_EQ(Messages.size(), 1u) << entry;
    EXPECT_TRUE(Messages[0].startsWith("The screen")) << Messages[0].toStdString();
    EXPECT_TRUE(Details[0].startsWith("/no/such/dir/out.file: ")) << Details[0].toStdString();
  }
  // A cancelled dialog does nothing.
  Messages.clear();
  Window->RunSaveDialog = [](const QString&, const QString&, const QString&, const app::TConDos::TChosen& done) {
    done(QString());
  };
  RunMenuEntry("Save screenshot...");
  EXPECT_TRUE(Messages.empty());
}

// Pasted text goes in as the queue takes it: driven here by ticks and by the
// board's reads, every character arrives, in order, and nothing is dropped.
TEST_F(WindowTest, PasteTypesTheClipboardWithoutADroppedKey) {
  MakeWindow();
  TicksByHand();
  std::string text;
  for (int i = 0; i < 20; ++i) text += "Dir A:\n";
  QGuiApplication::clipboard()->setText(QString::fromStdString(text));
  Window->PasteAsKeys();
  std::vector<uint16_t> got;
  for (int tick = 0; tick < 200 && got.size() < 140; ++tick) {
    Window->Timer1Timer();
    for (int read = 0; read < 2 && !Window->Keyboard.QueueEmpty(); ++read) got.push_back(Window->Keyboard.PopKey());
  }
  const std::vector<uint16_t> line = {0x2044, 0x1769, 0x1372, 0x3920, 0x1E41, 0x273A, 0x1C0D};
  ASSERT_EQ(got.size(), 140u);
  for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], line[i % line.size()]) << i;
  EXPECT_EQ(Window->Session.DroppedKeys(), 0u);
  EXPECT_EQ(Window->Keyboard.ShiftFlags, 0);
}

TEST_F(WindowTest, FullKeyCodesAreAToggleOfTheMenu) {
  MakeWindow();
  const auto altX = [&] {
    bool handled = false;
    Window->Keyboard.ShiftFlags = 0x08;
    Window->Keyboard.AppMessage(keyboard::kWmSysKeyDown, 'X', 1u | (0x2Du << 16), handled);
    Window->Keyboard.ShiftFlags = 0;
    return Window->Keyboard.PopKey();
  };
  EXPECT_EQ(altX(), 0x2D78);
  RunMenuEntry("Full BIOS key codes");
  EXPECT_EQ(altX(), 0x2D00);
  std::unique_ptr<QMenu> menu(Window->MakeScreenMenu());
  for (QAction* action : menu->actions()) {
    if (action->text() == "Full BIOS key codes") {
      EXPECT_TRUE(action->isChecked());
    }
  }
  RunMenuEntry("Full BIOS key codes");
  EXPECT_EQ(altX(), 0x2D78);
}

// Another image while connected: after the board's current request, the old
// image is closed and the new one served; the next disk-change call answers
// "changed" once. Write protection is switched the same way.
TEST_F(WindowTest, ChangeImageAndWriteProtectWhileConnected) {
  floppytest::TTempDir dir;
  const std::string a = dir.File("a.img");
  const std::string b = dir.File("b.img");
  floppytest::Bytes imageB = floppytest::Image144();
  floppytest::WriteFile(a, floppytest::Image144());
  for (size_t i = 512; i < imageB.size(); ++i) imageB[i] = static_cast<uint8_t>(i >> 9);
  floppytest::WriteFile(b, imageB);
  testsupport::TPtyBoard board;
  app::TOptions o;
  o.Com1 = board.SlavePath();
  o.Image = a;
  MakeWindow(o);
  std::vector<std::string> errors;
  Window->Session.ImageMessageOut = [&](const std::string& line) { errors.push_back(line); };

  // A board call, its acknowledgement and reply, acknowledged in turn.
  const auto call = [&](uint16_t ax, uint16_t cx, size_t extra = 0) {
    board.Write(RequestBytes(0x13, ax, 0, cx, 0));
    Bytes got = board.Read(16);
    board.Write({0x55});
    if (extra > 0) {
      const Bytes more = board.Read(extra);
      got.insert(got.end(), more.begin(), more.end());
      board.Write({0x55});
    }
    return got;
  };
  std::vector<Bytes> answers;
  std::atomic<int> step{0};
  std::thread boardThread;
  QTimer poll;
  int waited = 0;
  QObject::connect(&poll, &QTimer::timeout, Window.get(), [&] {
    ++waited;
    if (step == 0 && Window->Running()) {
      step = 1;
      // The port is fixed while connected: its entries are not offered.
      std::unique_ptr<QMenu> menu(Window->MakeScreenMenu());
      for (QAction* action : menu->actions()) EXPECT_FALSE(action->text().startsWith("Serial port"));
      DialogAnswer = QString::fromStdString(b);
      RunMenuEntry("Change floppy image...");
      RunMenuEntry("Write-protect image");
      boardThread = std::thread([&] {
        answers.push_back(call(0x1601, 0));
        answers.push_back(call(0x1601, 0));
        answers.push_back(call(0x0201, 0x0002, 516));  // sector 2 of b
        board.Write(RequestBytes(0x13, 0x0301, 0, 0x0001, 0));  // a write of sector 1
        Bytes got = board.Read(16);
        board.Write({0x55});
        board.Write(testsupport::BlockBytes(0xEE));
        const Bytes rest = board.Read(1 + 15);
        board.Write({0x55});
        got.insert(got.end(), rest.begin(), rest.end());
        answers.push_back(got);
        step = 2;
      });
    } else if (step == 2 || waited > 1000) {
      Window->CloseComClick();
    }
  });
  poll.start(5);
  Window->OpenComClick();
  poll.stop();
  if (boardThread.joinable()) boardThread.join();
  ASSERT_EQ(answers.size(), 4u);
  EXPECT_EQ(answers[0], Cat({{0x55}, ReplyBytes(0, 0x0601, 0, 0, 0, wire::kFlagCarry)}));
  EXPECT_EQ(answers[1], Cat({{0x55}, ReplyBytes(0, 0x0001, 0, 0, 0, 0)}));
  EXPECT_EQ(answers[2], Cat({{0x55}, ReplyBytes(0, 0x0001, 0, 0x0002, 0, 0),
                             testsupport::BlockBytes(imageB.data() + 512)}));
  EXPECT_EQ(answers[3], Cat({{0x55}, ReplyBytes(10, 0x0301, 0, 0x0001, 0, 0), {0x55},
                             ReplyBytes(10, 0x0301, 0, 0x0001, 0, wire::kFlagCarry)}));
  EXPECT_EQ(floppytest::ReadFile(b), imageB);  // nothing written
  EXPECT_EQ(Window->ImageFileName().toStdString(), b);
  EXPECT_NE(std::find(errors.begin(), errors.end(), "Bytes Per Sector :  512"), errors.end());
}

TEST_F(WindowTest, FloppyToolTipShowsTheImageAndWhyItIsNotServed) {
  app::TOptions o;
  o.ReadOnly = true;
  MakeWindow(o);
  Window->Session.ImageMessageOut = nullptr;
  EXPECT_TRUE(Window->EnaFloppy->toolTip().startsWith("Enable Remote Floppy\nNo image in service"));
  Window->Floppy.OpenImage("/no/such/disk.img", true);
  Window->UpdateFloppyTip();
  EXPECT_EQ(Window->EnaFloppy->toolTip().toStdString(),
            "Enable Remote Floppy\nNo image in service\n"
            "Can not open image file /no/such/disk.img: No such file or directory\nWrite protection on");
  floppytest::TTempDir dir;
  const std::string a = dir.File("a.img");
  floppytest::WriteFile(a, floppytest::Image144());
  Window->Floppy.OpenImage(a, Window->Floppy.WriteProtect);
  Window->UpdateFloppyTip();
  EXPECT_EQ(Window->EnaFloppy->toolTip().toStdString(),
            "Enable Remote Floppy\nImage: " + a +
                " (write-protected)\nFAT image, 512-byte sectors, 18 sectors per track, 2 heads\nWrite protection on");
  Window->Floppy.CloseImage();
}

// A change to a file that is no diskette keeps the image in service, and the
// window says so (the session goes on: the message does not end anything).
TEST_F(WindowTest, ARefusedChangeOfImageIsShownAndTheImageStays) {
  MakeWindow();
  Window->Session.ImageMessageOut = nullptr;
  floppytest::TTempDir dir;
  const std::string good = dir.File("good.img");
  const std::string text = dir.File("text.txt");
  floppytest::WriteFile(good, floppytest::Image144());
  floppytest::WriteFile(text, floppytest::Bytes(19, 'x'));
  ASSERT_TRUE(Window->Floppy.OpenImage(good, false));
  EXPECT_FALSE(Window->Floppy.ChangeImage(text, false));
  const std::string why = text + ": no FAT boot sector (19 bytes); still serving " + good;
  EXPECT_EQ(Messages, std::vector<QString>{"The floppy image was not changed"});
  EXPECT_EQ(Details, std::vector<QString>{QString::fromStdString(why)});
  EXPECT_TRUE(Window->EnaFloppy->toolTip().contains(QString::fromStdString(why)));
  EXPECT_EQ(Window->Floppy.Status().Name, good);
  Window->Floppy.CloseImage();
}

}  // namespace

TEST_F(WindowTest, SerialPortChoiceSetsTheDeviceAndTheToolTip) {
  MakeWindow();
  // The statistics entry shows this connection's counts.
  QString shown;
  Window->ShowStatistics = [&shown](const QString& text) { shown = text; };
  Window->Session.Stats.Counts.NaksReceived = 3;
  RunMenuEntry("Link statistics...");
  EXPECT_TRUE(shown.contains("NAKs received: 3")) << shown.toStdString();
  Window->RunPortDialog = [](bool com2) -> std::optional<std::string> {
    return com2 ? std::optional<std::string>("rfc2217://lab:2001") : std::nullopt;
  };
  RunMenuEntry("Serial port for COM2...");
  EXPECT_EQ(Window->Com2Item->toolTip(), "rfc2217://lab:2001");
  EXPECT_EQ(Window->Session.DeviceFor(true), "rfc2217://lab:2001");
  const QString before = Window->Com1Item->toolTip();
  RunMenuEntry("Serial port for COM1...");  // cancelled
  EXPECT_EQ(Window->Com1Item->toolTip(), before);
  // The chooser's items name the tty behind a by-id name, and choosing one gives its path.
  const auto items = app::PortItems({{"/dev/serial/by-id/usb-FTDI-if00", "ttyUSB0", "/dev/ttyUSB0"}, {"/dev/ttyS0", "", ""}});
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0], "/dev/serial/by-id/usb-FTDI-if00  (ttyUSB0)");
  EXPECT_EQ(app::DeviceOfItem(items[0]), "/dev/serial/by-id/usb-FTDI-if00");
  EXPECT_EQ(app::DeviceOfItem(" tcp://10.0.0.5:4001 "), "tcp://10.0.0.5:4001");
}

TEST_F(WindowTest, ClosingTheWindowWhileANetworkPortConnectsCancelsAndCloses) {
  // A server that accepts but never answers the telnet opening: the open waits.
  QTcpServer silent;
  ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
  app::TOptions o;
  o.Com1 = "rfc2217://127.0.0.1:" + std::to_string(silent.serverPort());
  MakeWindow(o);
  Window->show();
  bool failed = false;
  Window->ShowMessage = [&failed](const QString&, const QString&) { failed = true; };
  QTimer::singleShot(200, Window.get(), [&] { Window->close(); });
  const auto start = std::chrono::steady_clock::now();
  Window->OpenComClick();  // returns once the close has cancelled the connect
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_FALSE(failed);  // a cancelled connect is no failure
  EXPECT_FALSE(Window->Running());
  QApplication::processEvents();
  EXPECT_FALSE(Window->isVisible());
}
