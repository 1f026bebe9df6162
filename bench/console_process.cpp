#include "bench/console_process.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "bench/fd_io.h"

namespace bench {

TConsoleProcess::TConsoleProcess(const std::string& console, const std::string& image)
    : TConsoleProcess(console, image, {}, {}) {}

TConsoleProcess::TConsoleProcess(const std::string& console, const std::string& image,
                                 const std::vector<std::string>& extra, const std::string& terminal,
                                 const std::string& port) {
  std::string com1 = port;
  if (com1.empty()) {
    Master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (Master < 0 || ::grantpt(Master) != 0 || ::unlockpt(Master) != 0) return;
    ::fcntl(Master, F_SETFD, FD_CLOEXEC);
    char name[256];
    if (::ptsname_r(Master, name, sizeof name) != 0) return;
    // The slave starts cooked with echo: raw on both ends before any byte moves.
    SlaveKeep = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (SlaveKeep < 0) return;
    MakeRawNonBlocking(SlaveKeep);
    MakeRawNonBlocking(Master);
    com1 = name;
  }
  std::vector<std::string> args{console, "--com1", com1, "--connect", "--image", image};
  args.insert(args.end(), extra.begin(), extra.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  Pid = ::fork();
  if (Pid == 0) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (!terminal.empty()) {
      ::setsid();
      const int tty = ::open(terminal.c_str(), O_RDWR);
      if (tty < 0) ::_exit(126);
      ::dup2(tty, 0);
      ::dup2(tty, 1);
    }
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
}

TConsoleProcess::~TConsoleProcess() {
  if (Pid > 0) {
    ::kill(Pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100; ++i) {
      if (::waitpid(Pid, &status, WNOHANG) == Pid) {
        Pid = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (Pid > 0) {
      ::kill(Pid, SIGKILL);
      ::waitpid(Pid, &status, 0);
    }
  }
  if (SlaveKeep >= 0) ::close(SlaveKeep);
  if (Master >= 0) ::close(Master);
}

double TConsoleProcess::CpuSeconds() const {
  std::ifstream in("/proc/" + std::to_string(Pid) + "/stat");
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The command name may hold spaces: fields are counted after its closing parenthesis.
  const auto close = all.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(all.substr(close + 2));
  std::string f;
  unsigned long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> f; ++i) {
    if (i == 14) utime = std::stoul(f);
    if (i == 15) stime = std::stoul(f);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

namespace {

long StatusKb(pid_t pid, const char* field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  const size_t n = std::strlen(field);
  while (std::getline(in, line))
    if (line.compare(0, n, field) == 0) return std::stol(line.substr(n));
  return -1;
}

}  // namespace

long TConsoleProcess::PeakResidentKb() const { return StatusKb(Pid, "VmHWM:"); }

long TConsoleProcess::ResidentKb() const { return StatusKb(Pid, "VmRSS:"); }

}  // namespace bench
