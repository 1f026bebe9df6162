#include <gtest/gtest.h>

#include "tests/support/param_names.h"

#include <QApplication>
#include <QTimer>
#include <thread>

#include "app/consolew.h"
#include "tests/app/pty_board.h"
#include "tests/support/fake_board.h"

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
    Window->RunOpenDialog = [this]() { return DialogAnswer; };
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
  Window->Link.Rx.RxCount = 1234;
  for (int i = 0; i < 4; ++i) Window->Timer1Timer();
  EXPECT_EQ(Window->Label2->text(), "0");
  Window->Timer1Timer();
  EXPECT_EQ(Window->Label2->text(), "1234");
}

TEST_F(WindowTest, TimerCountsTheWatchdogDown) {
  MakeWindow();
  Window->Link.Watchdog = 2;
  Window->Timer1Timer();
  Window->Timer1Timer();
  Window->Timer1Timer();
  EXPECT_EQ(Window->Link.Watchdog, 0);
}

TEST_F(WindowTest, DelButtonShowsWhileCtrlAndAltAreHeld) {
  MakeWindow();
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

TEST_F(WindowTest, RefreshButtonSetsTheRefreshRequestEveryFifthTick) {
  MakeWindow();
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

}  // namespace
