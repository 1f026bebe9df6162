// The pieces of the front-ends without a window: the terminal view's command
// key and status line on a real session, and the console log.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>

#include "display/screen.h"
#include "frontends/console_log.h"
#include "frontends/terminal_view.h"
#include "keyboard/key_pacer.h"
#include "session/session.h"

namespace {

class TerminalViewTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "front_ends_test";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) new QCoreApplication(argc, argv);
  }
  void SetUp() override {
    ASSERT_EQ(::pipe2(In, O_NONBLOCK | O_CLOEXEC), 0);
    Out = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    app::TTerminalView::TConfig config;
    config.InFd = In[0];
    config.OutFd = Out;
    View = std::make_unique<app::TTerminalView>(Session, config);
    View->OnQuit = [this] { ++Quits; };
  }
  void TearDown() override {
    View.reset();
    ::close(In[0]);
    ::close(In[1]);
    ::close(Out);
  }
  void Type(const std::string& bytes) {
    View->Typed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), Now += 100);
  }
  std::vector<uint16_t> Queue() {
    std::vector<uint16_t> codes;
    while (!Session.Keyboard.QueueEmpty()) codes.push_back(Session.Keyboard.PopKey());
    return codes;
  }

  app::TSession Session{app::TOptions{}};
  std::unique_ptr<app::TTerminalView> View;
  int In[2] = {-1, -1};
  int Out = -1;
  int Quits = 0;
  uint64_t Now = 1000;
};

TEST_F(TerminalViewTest, CommandKeyActsAsTheWindowsButtons) {
  Type("\x1dr");  // the R button, once
  EXPECT_TRUE(Session.Keyboard.RefreshRequest);
  Type("\x1d]");  // Ctrl-] itself reaches the board
  EXPECT_EQ(Queue(), std::vector<uint16_t>{0x1B1D});
  Type("\x1d" "d");  // Ctrl+Alt+Del: Ctrl and Alt held while Del waits
  EXPECT_EQ(Session.Keyboard.ShiftFlags & 0x0C, 0x0C);
  EXPECT_EQ(Queue(), std::vector<uint16_t>{0x5300});
  Type("a");  // the next key is typed without them
  EXPECT_EQ(Session.Keyboard.ShiftFlags, 0);
  EXPECT_EQ(Queue(), std::vector<uint16_t>{0x1E61});
  Type("\x1d?");
  EXPECT_NE(View->StatusLine().find("q quit"), std::string::npos) << View->StatusLine();
  EXPECT_EQ(Quits, 0);
  Type("\x1dq");
  EXPECT_EQ(Quits, 1);
}

// A control client that takes the keyboard: the terminal's keys and its
// commands that act on the board reach nothing, the status line says "view",
// a Shift held by the terminal is let go; a release gives the keyboard back.
TEST_F(TerminalViewTest, KeysAreRefusedWhileAControlClientHoldsTheKeyboard) {
  const int client = 0;
  Session.Keyboard.ShiftFlags = 0x22;  // Num Lock on, left Shift held
  Session.TakeKeyboard(&client);
  EXPECT_EQ(Session.Keyboard.ShiftFlags, 0x20);
  EXPECT_EQ(Session.Writer(), app::TWriterKind::Client);
  Type("ab\x1d" "d");
  EXPECT_TRUE(Queue().empty());
  EXPECT_NE(View->StatusLine().find("view"), std::string::npos) << View->StatusLine();
  std::string refusal;
  Session.ClientKeyCode(&client, 0x1E61, [&](bool, const std::string& why) { refusal = why; });
  EXPECT_EQ(refusal, "not connected");  // the writer, but no board to type to
  const int other = 0;
  Session.ClientChord(&other, "F1", [&](bool, const std::string& why) { refusal = why; });
  EXPECT_EQ(refusal, "not the writer");
  Session.ReleaseKeyboard(&other);  // not the holder: nothing changes
  EXPECT_TRUE(Session.IsWriter(&client));
  Session.ReleaseKeyboard(&client);
  EXPECT_EQ(Session.Writer(), app::TWriterKind::Local);
  Type("c");
  EXPECT_EQ(Queue(), std::vector<uint16_t>{0x2E63});
  // Without a front-end that types (--headless), a release leaves the keyboard to nobody.
  Session.SetLocalWriter(false);
  EXPECT_EQ(Session.Writer(), app::TWriterKind::Nobody);
}

TEST_F(TerminalViewTest, StatusLineShowsPortStateCountWordsAndShiftState) {
  Session.Link.Rx.RxCount = 4321;
  Session.Keyboard.ShiftFlags = 0x24;  // Num Lock, Ctrl
  static_cast<app::ISessionView&>(*View).StatusChanged("Ping!");
  static_cast<app::ISessionView&>(*View).StatusChanged("4321");  // the count has its own place
  EXPECT_EQ(View->StatusLine(), " COM1 /dev/ttyS0 | disconnected | 4321 bytes | Ping! | NUML CTRL | Ctrl-] ? help");
}

// Ctrl-] f: the path is typed on the status line and never reaches the board.
TEST_F(TerminalViewTest, FloppyPromptTakesAPathAndKeepsItsKeysFromTheBoard) {
  Type("\x1d" "f");
  EXPECT_EQ(View->StatusLine(), " Floppy image (Enter: change, Esc: cancel): _");
  Type("/tmp/d\xC3\xA9x.imx");
  Type("\x7f" "g");  // Backspace
  EXPECT_EQ(View->StatusLine(), " Floppy image (Enter: change, Esc: cancel): /tmp/d\xC3\xA9x.img_");
  Type("\r");
  EXPECT_EQ(Session.NextChoice().ImageFile, "/tmp/d\xC3\xA9x.img");
  EXPECT_TRUE(Session.NextChoice().Floppy);
  EXPECT_EQ(View->StatusLine(), " floppy image: /tmp/d\xC3\xA9x.img");

  // Esc, here as the start of an arrow key's sequence, cancels; Ctrl-U clears.
  Type("\x1d" "f");
  EXPECT_EQ(View->StatusLine(), " Floppy image (Enter: change, Esc: cancel): _");  // nothing in service yet
  Type("abc\x15zz\x1b[A");
  EXPECT_EQ(Session.NextChoice().ImageFile, "/tmp/d\xC3\xA9x.img");
  EXPECT_TRUE(Queue().empty());
  Type("q");  // typing goes to the board again
  EXPECT_EQ(Queue(), std::vector<uint16_t>{0x1071});
}

TEST_F(TerminalViewTest, StatusLineTellsWhyThereIsNoImage) {
  std::vector<std::string> errors;
  Session.ImageMessageOut = [&](const std::string& line) { errors.push_back(line); };
  Session.Floppy.OpenImage("/no/such/dir/disk.img", false);
  EXPECT_EQ(errors, std::vector<std::string>{"Can not open image file /no/such/dir/disk.img: No such file or directory"});
  // Too long for 80 columns: the help hint and the device path give way, the reason stays.
  EXPECT_EQ(View->StatusLine(),
            " COM1 | disconnected | 0 bytes | A: none (Can not open image file "
            "/no/such/dir/disk.img: No such file or directory)");
}

// A change to a file that is no diskette (Ctrl-] f) is refused; the status
// line says why and what stays in service.
TEST_F(TerminalViewTest, StatusLineTellsWhyAnImageWasNotChanged) {
  Session.ImageMessageOut = nullptr;
  char dir[] = "/tmp/consolew-images-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string served = std::string(dir) + "/zeros.img";
  const std::string text = std::string(dir) + "/text.txt";
  std::ofstream(served, std::ios::binary) << std::string(1474560, '\0');
  std::ofstream(text) << "not a diskette\n";
  ASSERT_TRUE(Session.Floppy.OpenImage(served, false));  // no FAT mark either: served as at Connect
  EXPECT_FALSE(Session.Floppy.ChangeImage(text, false));
  EXPECT_NE(View->StatusLine().find(" | A: zeros.img (" + text + ": no FAT boot sector (15 bytes); still serving " +
                                    served + ")"),
            std::string::npos)
      << View->StatusLine();
  Session.Floppy.CloseImage();
  ::unlink(served.c_str());
  ::unlink(text.c_str());
  ::rmdir(dir);
}

TEST_F(TerminalViewTest, StatusLineCountsRequestsAndCommandKeyIShowsTheLinkStatistics) {
  auto& counts = Session.Stats.Counts;
  counts.Requests = {1, 40, 2, 7, 0, 0};
  counts.Replies = 10;
  counts.NaksReceived = 1;
  EXPECT_EQ(View->StatusLine(), " COM1 /dev/ttyS0 | disconnected | 0 bytes | 50 req 1 err | Ctrl-] ? help");
  Type("\x1di");
  EXPECT_EQ(View->StatusLine(), " req 50: hs 1 vid 40 dsk 2 kbd 7 | rep 10 | NAK in 1");
  counts.Replies = 11;  // kept up to date while it stands
  EXPECT_EQ(View->StatusLine(), " req 50: hs 1 vid 40 dsk 2 kbd 7 | rep 11 | NAK in 1");
  for (int i = 0; i < 50; ++i) static_cast<app::ISessionView&>(*View).Refresh(false);  // 5 s
  EXPECT_EQ(View->StatusLine().rfind(" COM1 ", 0), 0u) << View->StatusLine();
  Type("\x1d?");
  EXPECT_NE(View->StatusLine().find("i stats"), std::string::npos) << View->StatusLine();
  EXPECT_LE(View->StatusLine().size(), 80u);
  // The queue holds 15 and the keys behind them wait, up to a bound: past it a
  // key is dropped, and counted.
  Type(std::string(15 + keyboard::TKeyPacer::kMaxWaiting + 1, 'k'));
  EXPECT_EQ(counts.DroppedKeys, 1u);
}

// A line typed at once (an expect script's send) waits for the board's queue
// and reaches it whole; a command typed among the keys acts in its place.
TEST_F(TerminalViewTest, KeysWaitForRoomInTheQueueAndCommandsKeepTheirPlace) {
  const std::string line = "> The quick brown fox jumps over the lazy dog";
  Type(line + "\x1d" "d" "x");
  std::vector<uint16_t> got;
  auto& view = static_cast<app::ISessionView&>(*View);
  for (int round = 0; round < 100 && !Session.Keyboard.QueueEmpty(); ++round) {
    for (int i = 0; i < 4 && !Session.Keyboard.QueueEmpty(); ++i) got.push_back(Session.Keyboard.PopKey());
    if (round % 2 == 0) {
      view.KeysRead();  // the board's keyboard call
    } else {
      view.Refresh(false);  // the tick
    }
  }
  ASSERT_EQ(got.size(), line.size() + 2);
  for (size_t i = 0; i < line.size(); ++i) EXPECT_EQ(got[i] & 0xFF, static_cast<uint8_t>(line[i])) << i;
  EXPECT_EQ(got[line.size()], 0x5300);  // Ctrl+Alt+Del's Del after the line, before the x
  EXPECT_EQ(got.back(), 0x2D78);
  EXPECT_EQ(Session.Stats.Counts.DroppedKeys, 0u);
}

// Everything after the command that opens the floppy prompt, in the same read,
// goes to the prompt; what follows its Enter goes to the board again.
TEST_F(TerminalViewTest, BytesAfterTheFloppyCommandInTheSameReadGoToThePrompt) {
  Type("a\x1d" "f/tmp/b.img\rc");
  EXPECT_EQ(Session.NextChoice().ImageFile, "/tmp/b.img");
  EXPECT_EQ(Queue(), (std::vector<uint16_t>{0x1E61, 0x2E63}));
}

TEST_F(TerminalViewTest, StatusLineKeepsWithin80ColumnsDroppingTheLeastNeededFirst) {
  app::TOptions options;
  options.Com1 = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
  app::TSession session(options);
  app::TTerminalView::TConfig config;
  config.InFd = In[0];
  config.OutFd = Out;
  app::TTerminalView view(session, config);
  session.Stats.Counts.Requests[1] = 5;
  static_cast<app::ISessionView&>(view).StatusChanged("Timeout!");
  // The help hint and the long device path go; the state, the count, the
  // requests and the word stay.
  EXPECT_EQ(view.StatusLine(), " COM1 | disconnected | 0 bytes | 5 req | Timeout!");
  session.Keyboard.ShiftFlags = 0x7F;  // every shift word as well: the requests go too
  EXPECT_EQ(view.StatusLine(), " COM1 | disconnected | 0 bytes | Timeout! | NUML CAPS SCRL SHIFT CTRL ALT");
}

// Driven by ticks: a short word gives way to the byte count after 500 ms; the
// command key's hint leads the line for the first 5 s after the start.
TEST_F(TerminalViewTest, StatusWordsAndTheStartHintStandTheirTimeOnly) {
  auto& view = static_cast<app::ISessionView&>(*View);
  View->Start();
  EXPECT_EQ(View->StatusLine(), " Ctrl-] q quit, Ctrl-] ? help | COM1 /dev/ttyS0 | disconnected | 0 bytes");
  view.StatusChanged("Ping!");
  for (int tick = 1; tick <= 4; ++tick) {
    view.Refresh(false);
    view.StatusChanged("77");  // the count every 500 ms does not push the word out early
    EXPECT_NE(View->StatusLine().find("| Ping!"), std::string::npos) << tick;
  }
  view.Refresh(false);
  EXPECT_EQ(View->StatusLine().find("Ping!"), std::string::npos) << View->StatusLine();
  for (int tick = 5; tick < 49; ++tick) view.Refresh(false);
  EXPECT_EQ(View->StatusLine().rfind(" Ctrl-] q quit", 0), 0u);
  view.Refresh(false);
  EXPECT_EQ(View->StatusLine(), " COM1 /dev/ttyS0 | disconnected | 0 bytes | Ctrl-] ? help");

  // On a narrow terminal the line is fitted to its columns (UTF-8 characters
  // count one each), and the hint leads it after a new start.
  View->Stop();
  View->SetSize({60, 30});
  View->Start();
  Session.SetDevice(false, "/dev/\xC3\xBC\xC3\xBC\xC3\xBC\xC3\xBC\xC3\xBC\xC3\xBC\xC3\xBC\xC3\xBC");
  EXPECT_EQ(View->StatusLine(), " Ctrl-] q quit, Ctrl-] ? help | COM1 | disconnected | 0 bytes");
  for (int tick = 0; tick < 50; ++tick) view.Refresh(false);
  // 68 bytes, 60 columns: nothing has to give way.
  EXPECT_EQ(View->StatusLine(), " COM1 /dev/\xC3\xBC\xC3\xBC\xC3\xBC\xC3\xBC\xC3\xBC\xC3\xBC\xC3\xBC\xC3\xBC"
                                " | disconnected | 0 bytes | Ctrl-] ? help");
  View->SetSize({59, 30});
  EXPECT_EQ(View->StatusLine(), " COM1 /dev/\xC3\xBC\xC3\xBC\xC3\xBC\xC3\xBC\xC3\xBC\xC3\xBC\xC3\xBC\xC3\xBC"
                                " | disconnected | 0 bytes");
}

// Ctrl-] i: statistics too wide for the terminal come in pages of whole items,
// the next every 3 s or at the next `i`.
TEST_F(TerminalViewTest, LinkStatisticsComeInPagesThatFitTheTerminal) {
  auto& counts = Session.Stats.Counts;
  counts.Requests = {1, 4000, 30, 700, 2, 1};
  counts.Replies = 734;
  counts.BlocksReceived = 8;
  counts.BlocksSent = 24;
  counts.NaksSent = 3;
  counts.NaksReceived = 5;
  counts.Resends = 5;
  counts.WatchdogAborts = 2;
  counts.NoiseBytes = 1234;
  counts.DroppedKeys = 9;
  const std::string all = app::FormatStatsLine(counts);
  ASSERT_GT(all.size(), 80u);
  Type("\x1di");
  auto& view = static_cast<app::ISessionView&>(*View);
  std::vector<std::string> pages;
  for (int page = 0; page < 3; ++page) {
    pages.push_back(View->StatusLine());
    for (int tick = 0; tick < 30; ++tick) view.Refresh(false);
  }
  std::string joined;
  for (size_t i = 0; i < pages.size(); ++i) {
    const std::string mark = " (" + std::to_string(i + 1) + "/3) ";
    ASSERT_EQ(pages[i].rfind(mark, 0), 0u) << pages[i];
    EXPECT_LE(pages[i].size(), 80u) << pages[i];
    joined += (joined.empty() ? "" : " | ") + pages[i].substr(mark.size());
  }
  EXPECT_EQ(joined, all);  // whole items, none left out
  EXPECT_EQ(View->StatusLine().rfind(" COM1 ", 0), 0u) << View->StatusLine();
  Type("\x1di");
  Type("\x1di");  // `i` again: the next page
  EXPECT_EQ(View->StatusLine(), pages[1]);
  for (int tick = 0; tick < 60; ++tick) view.Refresh(false);
  EXPECT_EQ(View->StatusLine().rfind(" COM1 ", 0), 0u) << View->StatusLine();
}

TEST(ConsoleLog, PlainUtf8LinesAppendedAndFlushedAsTheyEnd) {
  char path[] = "/tmp/consolew-log-XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  ::close(fd);
  const auto contents = [&] {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  };
  {
    app::TConsoleLog log;
    std::string error;
    ASSERT_TRUE(log.Open(path, error)) << error;
    log.Text("\nRemote console V1.01\r\n");
    EXPECT_EQ(contents(), "\nRemote console V1.01\n");  // in the file as soon as the line ends
    log.Text("ab\bc\x07\xC9\xCD\tX");  // backspace, bell, CP437 box characters, tab
  }  // the unfinished line at the end
  {
    app::TConsoleLog again;
    std::string error;
    ASSERT_TRUE(again.Open(path, error));
    again.Text("more\r\n");
  }
  EXPECT_EQ(contents(), "\nRemote console V1.01\nac\u2554\u2550\tX\nmore\n");
  ::unlink(path);

  app::TConsoleLog missing;
  std::string error;
  EXPECT_FALSE(missing.Open("/no/such/dir/boot.log", error));
  EXPECT_EQ(error, "/no/such/dir/boot.log: No such file or directory");

  app::TConsoleLog full;
  ASSERT_TRUE(full.Open("/dev/full", error));
  full.Text("line\n");
  EXPECT_EQ(full.WriteError(), "No space left on device");
  full.Text("next\n");  // no crash, nothing more tried
}

// What the board writes at positions (a menu, a status box) comes out a line
// per row; a line wrapped at column 80 stays one
// line. With timestamps each line carries the local time of its first character.
TEST(ConsoleLog, ARowOfItsOwnIsALineOfItsOwnAndCarriesItsTime) {
  char path[] = "/tmp/consolew-log-XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  ::close(fd);
  const std::string oldTz = std::getenv("TZ") != nullptr ? std::getenv("TZ") : "";
  ::setenv("TZ", "UTC0", 1);
  ::tzset();
  {
    app::TConsoleLog log;
    std::string error;
    ASSERT_TRUE(log.Open(path, error)) << error;
    log.Timestamps = true;
    // 2026-12-09 13:12:03.045 UTC, moved on by the test.
    auto now = std::chrono::system_clock::time_point(std::chrono::milliseconds(1796821923045));
    log.Clock = [&now] { return now; };
    display::TScreen screen;
    screen.OnText = [&log](std::string_view text, int32_t row, int32_t endRow) { log.Text(text, row, endRow); };
    const auto at = [&screen](int col, int row, const std::string& text) {
      screen.CursorCol = col;  // as the board's set-cursor call
      screen.CursorRow = row;
      for (const char c : text) screen.TelePutch(static_cast<uint8_t>(c));
    };
    at(10, 5, "File");
    now += std::chrono::milliseconds(1500);
    at(10, 6, "Edit");  // the menu's next row: "File" ends, stamped when it began
    at(20, 6, "Ctrl+E");  // the same row goes on
    now += std::chrono::hours(1);
    at(70, 10, "0123456789abcdef\r\n");  // wrapped at column 80: still one line
    screen.ConPrintf("Serial port back\r\n");
    at(0, 3, "A>");
  }
  ::setenv("TZ", oldTz.c_str(), 1);
  if (oldTz.empty()) ::unsetenv("TZ");
  ::tzset();
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  EXPECT_EQ(s.str(),
            "2026-12-09 13:12:03.045 File\n"
            "2026-12-09 13:12:04.545 EditCtrl+E\n"
            "2026-12-09 14:12:04.545 0123456789abcdef\n"
            "2026-12-09 14:12:04.545 Serial port back\n"
            "2026-12-09 14:12:04.545 A>\n");
  ::unlink(path);
}

}  // namespace
