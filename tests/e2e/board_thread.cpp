#include "tests/e2e/board_thread.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <stdexcept>

namespace e2e {

namespace {

void MakeRaw(int fd) {
  termios t{};
  if (::tcgetattr(fd, &t) != 0) return;
  ::cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  ::tcsetattr(fd, TCSANOW, &t);
}

}  // namespace

TBoardThread::TBoardThread() {
  Master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (Master < 0 || ::grantpt(Master) != 0 || ::unlockpt(Master) != 0)
    throw std::runtime_error("cannot create a pseudo-terminal");
  char name[256];
  if (::ptsname_r(Master, name, sizeof name) != 0) throw std::runtime_error("ptsname failed");
  Slave = name;
  SlaveKeep = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (SlaveKeep < 0) throw std::runtime_error("cannot open the pty slave");
  MakeRaw(SlaveKeep);
  MakeRaw(Master);
}

TBoardThread::~TBoardThread() {
  Stop();
  if (Worker.joinable()) Worker.join();
  if (SlaveKeep >= 0) ::close(SlaveKeep);
  if (Master >= 0) ::close(Master);
}

void TBoardThread::Start(TScript script, const boardsim::TFaultConfig& faults,
                         const boardsim::TLinkConfig& link, uint32_t bitsPerSecond) {
  if (Worker.joinable()) Worker.join();
  StopRequested = false;
  Finished = false;
  ResultText.str("");
  LogText.str("");
  Pacer = std::make_unique<boardsim::TPacer>(Clock, bitsPerSecond);
  Faults = std::make_unique<boardsim::TFaultInjector>(faults);
  Link = std::make_unique<boardsim::TBoardLink>(Master, Clock, *Pacer, *Faults, link);
  Link->SetHostAlive([this] { return !StopRequested.load(); });
  boardsim::TAppConfig app;
  app.HandshakeRetry = std::chrono::milliseconds(50);
  app.Timeout = std::chrono::seconds(30);  // a console that never answers fails the test
  Application = std::make_unique<boardsim::TBoardApp>(*Link, Clock, ResultText, LogText, app);
  Worker = std::thread([this, script = std::move(script)] {
    try {
      Status = script(*Application);
    } catch (const std::exception& e) {
      LogText << "board: " << e.what() << "\n";
      Status = -1;
    }
    Finished = true;
  });
}

int TBoardThread::Join() {
  if (Worker.joinable()) Worker.join();
  return Status;
}

}  // namespace e2e
