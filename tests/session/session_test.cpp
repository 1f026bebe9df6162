// The session against a board at the far end of a pseudo-terminal: a board
// that was running before Connect (its first request is no handshake) is asked
// once for its screen, and the banner saying the console waits for it goes.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <thread>

#include "session/session.h"
#include "display/screen_text.h"
#include "tests/support/pty_board.h"
#include "tests/support/fake_board.h"
#include "tests/support/param_names.h"

namespace {

using testsupport::Bytes;
using testsupport::Cat;
using testsupport::ReplyBytes;
using testsupport::RequestBytes;

constexpr uint16_t kCheckKey = 0x0100;
const Bytes kAckByte{0x55};

// The check-key answer: 7F00 (zero flag clear) or "no key" (the request's AX, zero flag set).
Bytes CheckKeyAnswer(bool refresh) {
  return Cat({kAckByte, refresh ? ReplyBytes(10, 0x7F00, 0, 0, 0, 0x0001)
                                : ReplyBytes(10, kCheckKey, 0, 0, 0, 0x0041)});
}

struct TAttachCase {
  const char* Name;
  Bytes First;        // the board's first request after Connect
  Bytes FirstAnswer;  // what the console sends for it
  bool NoAutoRefresh;
  bool Refreshed;     // the first of the three check keys after it is answered 7F00
  bool BannerStays;
};

void PrintTo(const TAttachCase& c, std::ostream* os) { *os << c.Name; }

class SessionAttach : public ::testing::TestWithParam<TAttachCase> {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "session_test";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) new QCoreApplication(argc, argv);
  }
};

TEST_P(SessionAttach, AsksTheBoardForItsScreenOnce) {
  const auto& c = GetParam();
  testsupport::TPtyBoard board;
  app::TOptions options;
  options.Com1 = board.SlavePath();
  options.NoAutoRefresh = c.NoAutoRefresh;
  app::TSession session(options);

  // The board: its first request, two check keys, then (once the console has
  // had a whole 500 ms round of ticks) one more.
  std::vector<Bytes> answers;
  std::atomic<int> step{0};
  std::thread boardThread;
  const auto exchange = [&](const Bytes& request, size_t answer) {
    board.Write(request);
    answers.push_back(board.Read(answer));
    if (answer > 1) board.Write(kAckByte);
  };
  QTimer poll;
  int waited = 0;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    ++waited;
    if (step == 0 && session.Running()) {
      step = 1;
      boardThread = std::thread([&] {
        exchange(c.First, c.FirstAnswer.size());
        exchange(RequestBytes(0x16, kCheckKey), 16);
        exchange(RequestBytes(0x16, kCheckKey), 16);
        step = 2;
        while (step != 3) std::this_thread::yield();
        exchange(RequestBytes(0x16, kCheckKey), 16);
        step = 4;
      });
    } else if (step == 2) {
      for (int i = 0; i < 5; ++i) session.Tick();  // the fifth is the slow tick
      step = 3;
    } else if (step == 4 || waited > 2000) {
      session.Disconnect();
    }
  });
  poll.start(2);
  session.Connect(app::TConnectChoice{});
  poll.stop();
  if (step == 2) step = 3;  // never left waiting
  if (boardThread.joinable()) boardThread.join();

  EXPECT_EQ(answers, (std::vector<Bytes>{c.FirstAnswer, CheckKeyAnswer(c.Refreshed), CheckKeyAnswer(false),
                                         CheckKeyAnswer(false)}));
  EXPECT_EQ(display::ScreenText(session.Screen).find("waiting for the board") != std::string::npos, c.BannerStays)
      << display::ScreenText(session.Screen);
}

INSTANTIATE_TEST_SUITE_P(
    FirstRequest, SessionAttach,
    ::testing::Values(
        // A running board polling the keyboard gets 7F00 at once.
        TAttachCase{"CheckKey", RequestBytes(0x16, kCheckKey), CheckKeyAnswer(true), false, false, false},
        TAttachCase{"Video", RequestBytes(0x10, 0x0E41), kAckByte, false, true, false},
        TAttachCase{"Handshake", RequestBytes(0x0B, 0x4E56), Cat({kAckByte, ReplyBytes(0, 0x4E56, 0, 3, 0, 0)}),
                    false, false, false},
        TAttachCase{"VideoWithoutAutoRefresh", RequestBytes(0x10, 0x0E41), kAckByte, true, false, true}),
    testsupport::TNameField());

}  // namespace
