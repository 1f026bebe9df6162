// The real window, connected over a pseudo-terminal to the simulated board
// running on a thread of the test: what the board does arrives in the window's
// screen model and its rendered image, and keys typed into the window arrive
// at the board with their BIOS codes.
#include <gtest/gtest.h>

#include "tests/support/param_names.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QTimer>
#include <QWindow>
#include <chrono>

#include "app/consolew.h"
#include "tests/e2e/board_thread.h"
#include "tests/e2e/e2e_support.h"

namespace {

using e2e::TBoardThread;
using e2e::TBytes;
using Clock = std::chrono::steady_clock;

// Test sizes shrink under the sanitizers, where everything runs several times slower.
#ifdef CONSOLEW_E2E_SLOW
constexpr unsigned kStallPings = 8;
#else
constexpr unsigned kStallPings = 15;
#endif

class WindowE2E : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "window_e2e_test";
    static char* argv[] = {name, nullptr};
    if (QApplication::instance() == nullptr) new QApplication(argc, argv);
  }

  void MakeWindow(const std::string& image = {}) {
    app::TOptions o;
    o.Com1 = Board.SlavePath();
    o.Image = image;
    Window = std::make_unique<app::TConDos>(o);
    Window->ShowMessage = [this](const QString& text, const QString&) { Messages.push_back(text); };
    Window->show();
  }

  // Connects and runs the service loop until `done` says so (it is asked every
  // 5 ms from inside the loop) or the time-out passes; then disconnects.
  bool ConnectedUntil(const std::function<bool()>& done, int timeoutMs = 30000) {
    bool reached = false;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, Window.get(), [&] {
      if (!Window->Running()) return;
      reached = done();
      if (reached || Clock::now() > deadline) {
        poll.stop();
        Window->CloseComClick();
      }
    });
    poll.start(5);
    Window->OpenComClick();
    return reached;
  }

  bool BoardDone() { return Board.Done(); }

  // A keystroke as the window system delivers it: nativeScanCode is the X
  // keycode, evdev code + 8, which for the main block is the set-1 scan code + 8.
  void Key(QEvent::Type type, int qtKey, Qt::KeyboardModifiers mods, uint32_t evdev,
           const QString& text = {}) {
    QKeyEvent event(type, qtKey, mods, evdev + 8, 0, 0, text);
    QApplication::sendEvent(Window->windowHandle(), &event);
  }
  void Stroke(int qtKey, uint32_t evdev, const QString& text = {},
              Qt::KeyboardModifiers mods = Qt::NoModifier) {
    Key(QEvent::KeyPress, qtKey, mods, evdev, text);
    Key(QEvent::KeyRelease, qtKey, mods, evdev, text);
  }

  // Every cell and the cursor of the console's screen equal the board's page.
  void ExpectScreenIsTheBoardsPage(const boardsim::TTextPage& page) {
    int differing = 0;
    for (int row = 0; row < 25; ++row) {
      for (int col = 0; col < 80; ++col) {
        const auto cell = Window->Screen.Cell(col, row);
        if (cell.Char != page.Char(col, row) || cell.Attr != page.Attr(col, row)) {
          if (++differing <= 5)
            ADD_FAILURE() << "cell " << col << "," << row << ": console " << int(cell.Char) << "/"
                          << int(cell.Attr) << ", board " << int(page.Char(col, row)) << "/"
                          << int(page.Attr(col, row));
        }
      }
    }
    EXPECT_EQ(differing, 0);
  }

  // The colour at the centre of a cell of the rendered screen.
  uint32_t CellCentre(int col, int row) {
    const auto& r = Window->Renderer;
    return r.ScreenBitmap.pixel(col * r.CellWidth + r.CellWidth / 2,
                                row * r.CellHeight + r.CellHeight / 2) &
           0xFFFFFFu;
  }

  TBoardThread Board;
  std::unique_ptr<app::TConDos> Window;
  std::vector<QString> Messages;
};

struct TServices {
  bool Keyboard, Video, Floppy;
  uint16_t Bits;
};

void PrintTo(const TServices& s, std::ostream* os) { *os << "bits " << s.Bits; }

class HandshakeE2E : public WindowE2E, public ::testing::WithParamInterface<TServices> {};

TEST_P(HandshakeE2E, BoardLearnsTheCheckedServicesAndGetsItsRegistersBack) {
  e2e::TTempDir dir;
  const auto image = dir / "blank.img";
  e2e::WriteFile(image, TBytes(1474560, 0xF6));
  MakeWindow(GetParam().Floppy ? image.string() : std::string());
  Window->EnaKeyboard->setChecked(GetParam().Keyboard);
  Window->EnaVideo->setChecked(GetParam().Video);
  uint16_t options = 0xFFFF;
  Board.Start([&](boardsim::TBoardApp& app) {
    const auto bits = app.Bios().Handshake({0x4E56, 0x1234, 0x9999, 0xBEEF});
    if (!bits) return 1;
    options = *bits;
    return 0;
  });
  // "Ping!" comes once the console has taken the board's acknowledgement of its
  // reply, which may be a moment after the board is done; the byte count may
  // take the label's place 500 ms later, so every word shown is kept.
  struct TWords : app::ISessionView {
    QStringList Seen;
    void StatusChanged(const std::string& text) override { Seen << QString::fromStdString(text); }
  } words;
  Window->Session.AddView(&words);
  ASSERT_TRUE(ConnectedUntil([&] { return BoardDone() && words.Seen.contains("Ping!"); }))
      << words.Seen.join(' ').toStdString();
  Window->Session.RemoveView(&words);
  ASSERT_EQ(Board.Join(), 0) << Board.Log();  // 0 also means AX, BX and DX came back
  EXPECT_EQ(options, GetParam().Bits);
}

INSTANTIATE_TEST_SUITE_P(Services, HandshakeE2E,
                         ::testing::Values(TServices{true, false, false, 1},
                                           TServices{false, true, true, 6},
                                           TServices{true, true, true, 7}), testsupport::TIndexName());

// The window's dialogs opened while the board reads the whole diskette do
// not hold up its service: the same bytes go over the wire as without them
// (no refusal, resend or time-out), and they are still open at the end.
TEST_F(WindowE2E, DialogsOpenAcrossAWholeReadChangeNothingOnTheWire) {
  e2e::TTempDir dir;
  const auto image = dir / "served.img";
  const TBytes content = e2e::RandomBytes(1474560, 3);
  e2e::WriteFile(image, content);
  MakeWindow(image.string());
  Window->UseOwnDialogs();  // the real ones, not the fixture's
  const auto openDialogs = [] {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) n += qobject_cast<QDialog*>(w) != nullptr && w->isVisible();
    return n;
  };
  struct TWire {
    uint64_t Sent, Received, Resends, NaksSent, NaksReceived, Timeouts;
    bool operator==(const TWire&) const = default;
  };
  const auto read = [&](bool withDialogs) {
    bool started = false;
    // A safety net for a console that would wait for the dialogs: they close.
    QTimer net;
    QObject::connect(&net, &QTimer::timeout, [] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* d = qobject_cast<QDialog*>(w)) d->reject();
      }
    });
    EXPECT_TRUE(ConnectedUntil([&] {
      if (!started) {
        // The dialogs open with the service loop running, then the board starts its read.
        started = true;
        if (withDialogs) {
          net.start(20000);
          std::unique_ptr<QMenu> menu(Window->MakeScreenMenu());
          for (QAction* a : menu->actions()) {
            if (a->text() == "Link statistics..." || a->text() == "Change floppy image..." ||
                a->text() == "Save screenshot...") {
              a->trigger();
            }
          }
          Window->ShowMessage("Error Writing Trace", "a message box as well");
        }
        Board.Start([&](boardsim::TBoardApp& app) { return app.ReadImage((dir / "read.img").string()); });
      }
      return BoardDone();
    }));
    EXPECT_EQ(Board.Join(), 0) << Board.Log();
    EXPECT_TRUE(e2e::ReadFile(dir / "read.img") == content);
    const auto& s = Board.LinkStats();
    return TWire{s.BytesSent, s.BytesReceived, s.Resends, s.NaksSent, s.NaksReceived, s.Timeouts};
  };
  const TWire alone = read(false);
  const TWire beside = read(true);
  EXPECT_EQ(openDialogs(), 4);
  EXPECT_TRUE(alone == beside) << "resends " << beside.Resends << ", NAKs " << beside.NaksReceived << ", time-outs "
                               << beside.Timeouts;
  EXPECT_EQ(beside.Resends + beside.NaksReceived + beside.Timeouts, 0U);
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* d = qobject_cast<QDialog*>(w)) d->reject();
  }
}

TEST_F(WindowE2E, VideoCallsReachTheScreenModelAndTheRenderedImage) {
  MakeWindow();
  Board.Start([](boardsim::TBoardApp& app) {
    auto& bios = app.Bios();
    if (!bios.Handshake({1, 2, 3, 4})) return 1;
    bios.ScrollUp(0, 0, 79, 24, 0, 0x17);            // grey on blue everywhere
    bios.ScrollUp(20, 10, 29, 12, 0, 0x4F);          // a white on red patch
    bios.PutText(2, 1, "Hello from the board", 0x1E);
    bios.SetCursor(10, 5);
    bios.WriteCharAttr(0xDB, 0x0E, 3);               // three yellow full blocks
    bios.SetCursor(0, 23);
    bios.TeletypeText("line one\r\nline two");       // teletype scrolls at the bottom
    bios.TeletypeText("\r\nand a third");
    bios.SetCursor(33, 7);
    uint16_t code = 0;
    return bios.CheckKey(code) == boardsim::TKeyState::Failed ? 1 : 0;  // one round trip
  });
  ASSERT_TRUE(ConnectedUntil([&] { return BoardDone(); }));
  ASSERT_EQ(Board.Join(), 0) << Board.Log();
  const auto& page = Board.App().Page();
  ExpectScreenIsTheBoardsPage(page);
  EXPECT_EQ(Window->Screen.Cell(2, 0).Char, 'H');  // the scroll moved the greeting up a row
  EXPECT_EQ(Window->Screen.CursorCol, 33);
  EXPECT_EQ(Window->Screen.CursorRow, 7);

  Window->Screen.ScreenDirty = 1;
  Window->ScreenRefresh();
  EXPECT_EQ(CellCentre(70, 3), 0x00007Fu);  // blue background of an empty cell
  EXPECT_EQ(CellCentre(25, 10), 0x7F0000u);  // red patch (moved up a row: rows 9-11)
  EXPECT_EQ(CellCentre(11, 4), 0xFFFF00u);  // yellow full block, moved up a row
  EXPECT_EQ(CellCentre(79, 24), 0x00007Fu);
  // The window shows that image one to one below the panel.
  const QImage shot = Window->grab().toImage();
  const int x = 11 * Window->Renderer.CellWidth + 3;
  const int y = Window->PanelHeight + 4 * Window->Renderer.CellHeight + 5;
  EXPECT_EQ(shot.pixel(x, y) & 0xFFFFFFu, 0xFFFF00u);
}

TEST_F(WindowE2E, RefreshButtonMakesTheBoardUploadItsPage) {
  MakeWindow();
  bool hiddenBeforeUpload = false;
  std::atomic<bool> drawn{false};
  Board.Start([&](boardsim::TBoardApp& app) {
    auto& bios = app.Bios();
    if (!bios.Handshake({1, 2, 3, 4})) return 1;
    // Drawn on the board's own screen only; the console learns it from the upload.
    bios.SetOptions(bios.Options() & ~boardsim::kOptionVideo);
    bios.ScrollUp(0, 0, 79, 24, 0, 0x2F);
    bios.PutText(5, 5, "uploaded page", 0x4E);
    bios.SetCursor(40, 20);
    drawn = true;
    for (int i = 0; i < 500; ++i) {
      uint16_t code = 0;
      const auto state = bios.CheckKey(code);
      if (state == boardsim::TKeyState::Refresh) return bios.Upload() ? 0 : 1;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 2;
  });
  ASSERT_TRUE(ConnectedUntil([&] {
    if (drawn && !Window->Rscr->isChecked()) {
      hiddenBeforeUpload = Window->Screen.Cell(5, 5).Char != 'u';
      Window->Rscr->setChecked(true);
    }
    return BoardDone();
  }));
  ASSERT_EQ(Board.Join(), 0) << Board.Log();
  EXPECT_TRUE(hiddenBeforeUpload);
  ExpectScreenIsTheBoardsPage(Board.App().Page());
  Window->ScreenRefresh();
  EXPECT_EQ(CellCentre(60, 15), 0x007F00u);  // green background
}

TEST_F(WindowE2E, KeysTypedIntoTheWindowArriveAtTheBoardWithTheirBiosCodes) {
  MakeWindow();
  Board.Start([](boardsim::TBoardApp& app) { return app.Keys(9); });
  bool typed = false;
  ASSERT_TRUE(ConnectedUntil([&] {
    if (!typed) {
      typed = true;
      Stroke(Qt::Key_A, 0x1E, "a");
      Key(QEvent::KeyPress, Qt::Key_Shift, Qt::NoModifier, 0x2A);
      Stroke(Qt::Key_A, 0x1E, "A", Qt::ShiftModifier);
      Key(QEvent::KeyRelease, Qt::Key_Shift, Qt::ShiftModifier, 0x2A);
      Stroke(Qt::Key_1, 0x02, "1");
      Stroke(Qt::Key_Return, 0x1C, "\r");
      Stroke(Qt::Key_Escape, 0x01, "\x1b");
      Stroke(Qt::Key_F1, 0x3B);
      Stroke(Qt::Key_Left, 105);  // the gray arrow: evdev 105
      Stroke(Qt::Key_Backspace, 0x0E, "\b");
      Key(QEvent::KeyPress, Qt::Key_Control, Qt::NoModifier, 0x1D);
      Stroke(Qt::Key_C, 0x2E, "\x03", Qt::ControlModifier);
      Key(QEvent::KeyRelease, Qt::Key_Control, Qt::ControlModifier, 0x1D);
    }
    return BoardDone();
  }));
  ASSERT_EQ(Board.Join(), 0) << Board.Results() << Board.Log();
  EXPECT_EQ(e2e::JsonField(Board.Results(), "codes").value_or(""),
            "[\"1E61\",\"1E41\",\"0231\",\"1C0D\",\"011B\",\"3B00\",\"4B00\",\"0E08\",\"2E03\"]");
}

// The board reads the diskette track by track until the test pulls the plug.
TEST_F(WindowE2E, DisconnectInATransferThenConnectAgainServesTheWholeImage) {
  e2e::TTempDir dir;
  const auto image = dir / "served.img";
  const TBytes content = e2e::RandomBytes(1474560, 7);
  e2e::WriteFile(image, content);
  MakeWindow(image.string());
  boardsim::TLinkConfig quick;
  quick.AckTimeout = std::chrono::milliseconds(200);
  Board.Start([&](boardsim::TBoardApp& app) { return app.ReadImage((dir / "first.img").string()); },
              {}, quick);
  // Cut when a quarter of the image has gone out (a track is 18 x 517 bytes
  // on the wire; the host receives 32 bytes per track).
  bool cutInTheMiddle = false;
  ConnectedUntil([&] {
    if (Window->Link.Rx.RxCount <= 40 * 32) return false;
    cutInTheMiddle = !BoardDone();
    return true;
  });
  EXPECT_TRUE(cutInTheMiddle);
  EXPECT_FALSE(Window->Running());
  EXPECT_FALSE(Window->Comm.Enabled());
  EXPECT_FALSE(Window->Floppy.HasImage());
  EXPECT_TRUE(Window->Connect->isEnabled());
  EXPECT_EQ(Board.Join(), 1);  // the board's read failed
  EXPECT_FALSE(e2e::JsonTrue(Board.Results(), "ok"));

  Board.Start([&](boardsim::TBoardApp& app) { return app.ReadImage((dir / "second.img").string()); });
  ASSERT_TRUE(ConnectedUntil([&] { return BoardDone(); }));
  ASSERT_EQ(Board.Join(), 0) << Board.Results() << Board.Log();
  EXPECT_TRUE(e2e::ReadFile(dir / "second.img") == content);
  EXPECT_TRUE(e2e::ReadFile(image) == content);  // reading never changes the file
  EXPECT_TRUE(Messages.empty());
}

TEST_F(WindowE2E, ClosingTheWindowInAWriteLeavesEverySectorOldOrNew) {
  e2e::TTempDir dir;
  const auto image = dir / "served.img";
  const TBytes before = e2e::RandomBytes(1474560, 11);
  const TBytes written = e2e::RandomBytes(1474560, 12);
  e2e::WriteFile(image, before);
  e2e::WriteFile(dir / "new.img", written);
  MakeWindow(image.string());
  Board.Start([&](boardsim::TBoardApp& app) { return app.WriteImage((dir / "new.img").string()); });
  bool closed = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, Window.get(), [&] {
    if (!closed && Window->Link.Rx.RxCount > 300000) {
      closed = true;
      Window->close();
    }
  });
  poll.start(2);
  const auto start = Clock::now();
  Window->OpenComClick();  // returns once the loop has unwound
  poll.stop();
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));
  EXPECT_TRUE(closed);
  EXPECT_FALSE(Window->Running());
  EXPECT_FALSE(Window->Comm.Enabled());
  QApplication::processEvents();
  EXPECT_FALSE(Window->isVisible());
  Board.Stop();
  Board.Join();
  const TBytes after = e2e::ReadFile(image);
  EXPECT_TRUE(e2e::CorruptSectors(before, written, after).empty());
  size_t fresh = 0;
  for (size_t s = 0; s < after.size() / 512; ++s)
    fresh += std::equal(after.begin() + s * 512, after.begin() + s * 512 + 512, written.begin() + s * 512);
  EXPECT_GT(fresh, 0u);
  EXPECT_LT(fresh, 2880u);
  EXPECT_EQ(fresh % 18, 0u);  // whole tracks: a track is written only when all its blocks arrived
}

// The board stops halfway through a request for a little longer than the
// console's watchdog: the console must have dropped the fragment by then and
// take the fresh request at its first send.
TEST_F(WindowE2E, AfterAStallTheNextRequestIsServedWithinTheWatchdog) {
  MakeWindow();
  boardsim::TFaultConfig faults;
  faults.StallEvery = 4;
  boardsim::TLinkConfig link;
  link.StallTime = std::chrono::milliseconds(2250);
  // The board starts once the console has opened (and flushed) its port, so
  // that its first request is not lost to the flush and counted as a resend.
  QTimer::singleShot(0, Window.get(), [&] {
    Board.Start([](boardsim::TBoardApp& app) { return app.Ping(kStallPings); }, faults, link);
  });
  ASSERT_TRUE(ConnectedUntil([&] { return BoardDone(); }, 50000));
  ASSERT_EQ(Board.Join(), 0) << Board.Results() << Board.Log();
  EXPECT_GE(Board.FaultStats().Stalls, 2u);
  EXPECT_EQ(Board.LinkStats().NaksReceived, 0u);
  EXPECT_EQ(Board.LinkStats().Resends, 0u);
  EXPECT_EQ(e2e::JsonNumber(Board.Results(), "failed"), 0.0);
}

}  // namespace
