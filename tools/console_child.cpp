#include "tools/console_child.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace boardsim {

namespace {

void MakeRaw(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return;  // not a terminal (a socket in tests)
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  tcsetattr(fd, TCSANOW, &t);
}

speed_t SpeedOf(uint32_t bps) {
  switch (bps) {
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    default: return B115200;
  }
}

}  // namespace

std::string DefaultConsolePath() {
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "consolew";
  std::string path(self, static_cast<size_t>(n));
  const auto slash = path.rfind('/');
  return (slash == std::string::npos ? std::string(".") : path.substr(0, slash)) + "/consolew";
}

int OpenBoardDevice(const std::string& path, uint32_t bitsPerSecond, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return -1;
  }
  termios t{};
  if (tcgetattr(fd, &t) == 0) {
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    const speed_t speed = SpeedOf(bitsPerSecond);
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    tcsetattr(fd, TCSANOW, &t);
    tcflush(fd, TCIOFLUSH);
  }
  return fd;
}

std::unique_ptr<TConsoleChild> TConsoleChild::Start(const std::string& console,
                                                    const std::string& image,
                                                    const std::vector<std::string>& extra,
                                                    std::string& error) {
  std::unique_ptr<TConsoleChild> c(new TConsoleChild);
  c->Master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (c->Master < 0 || ::grantpt(c->Master) != 0 || ::unlockpt(c->Master) != 0) {
    error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
    return nullptr;
  }
  ::fcntl(c->Master, F_SETFD, FD_CLOEXEC);
  char name[256];
  if (::ptsname_r(c->Master, name, sizeof name) != 0) {
    error = "ptsname failed";
    return nullptr;
  }
  c->Slave = name;
  // The slave starts in cooked mode with echo: raw before any byte moves.
  c->SlaveKeep = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (c->SlaveKeep < 0) {
    error = "cannot open " + c->Slave + ": " + std::strerror(errno);
    return nullptr;
  }
  MakeRaw(c->SlaveKeep);
  MakeRaw(c->Master);

  std::vector<std::string> argv{console, "--com1", c->Slave, "--connect"};
  if (!image.empty()) {
    argv.push_back("--image");
    argv.push_back(image);
  }
  argv.insert(argv.end(), extra.begin(), extra.end());
  std::vector<char*> cargv;
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);

  c->Pid = ::fork();
  if (c->Pid < 0) {
    error = std::string("fork failed: ") + std::strerror(errno);
    return nullptr;
  }
  if (c->Pid == 0) {
    ::execv(cargv[0], cargv.data());
    const char msg[] = "board-sim: cannot start the console\n";
    [[maybe_unused]] const ssize_t ignored = ::write(2, msg, sizeof msg - 1);
    ::_exit(127);
  }
  return c;
}

bool TConsoleChild::Alive() {
  if (Pid <= 0) return false;
  int status = 0;
  const pid_t r = ::waitpid(Pid, &status, WNOHANG);
  if (r == 0) return true;
  if (r == Pid) Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  Pid = -1;
  return false;
}

TConsoleChild::~TConsoleChild() {
  if (Alive()) {
    ::kill(Pid, SIGTERM);
    for (int i = 0; i < 50 && Alive(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (Pid > 0) {
      ::kill(Pid, SIGKILL);
      ::waitpid(Pid, nullptr, 0);
    }
  }
  if (SlaveKeep >= 0) ::close(SlaveKeep);
  if (Master >= 0) ::close(Master);
}

}  // namespace boardsim
