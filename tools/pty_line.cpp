#include "tools/pty_line.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace boardsim {

namespace {
std::string Reason(const std::string& what) { return what + ": " + std::strerror(errno); }
}  // namespace

std::unique_ptr<TPtyLine> TPtyLine::Create(const std::string& link, std::string& error) {
  std::unique_ptr<TPtyLine> line(new TPtyLine);
  line->Link = link;
  struct stat st {};
  if (::lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
    error = link + ": exists and is not a symlink (not replaced)";
    return nullptr;
  }
  if (!line->MakePair(error) || !line->PointLink(error)) return nullptr;
  return line;
}

TPtyLine::~TPtyLine() {
  if (Master >= 0) ::close(Master);
  char target[4096];
  const ssize_t n = ::readlink(Link.c_str(), target, sizeof target - 1);
  if (n > 0 && std::string(target, static_cast<size_t>(n)) == Slave) ::unlink(Link.c_str());
}

bool TPtyLine::MakePair(std::string& error) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    error = Reason("cannot create a pseudo-terminal");
    if (master >= 0) ::close(master);
    return false;
  }
  char name[256];
  if (::ptsname_r(master, name, sizeof name) != 0) {
    error = Reason("cannot name the pseudo-terminal");
    ::close(master);
    return false;
  }
  // Raw from the start, so that nothing the host sends is echoed or cooked
  // before it sets the line up itself.
  const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave >= 0) {
    termios t{};
    if (::tcgetattr(slave, &t) == 0) {
      ::cfmakeraw(&t);
      ::tcsetattr(slave, TCSANOW, &t);
    }
    // Closed again: the master sees a hang-up until the host opens it.
    ::close(slave);
  }
  if (Master >= 0) ::close(Master);
  Master = master;
  Slave = name;
  Listening = false;
  return true;
}

bool TPtyLine::HungUp() const {
  pollfd p{Master, 0, 0};
  ::poll(&p, 1, 0);
  return (p.revents & POLLHUP) != 0;
}

void TPtyLine::FlushTowardHost() const {
  // Only the slave's side can empty its input queue (tcflush on the master
  // leaves it); best effort: a host that holds the line exclusively keeps us out.
  const int slave = ::open(Slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slave < 0) return;
  ::tcflush(slave, TCIFLUSH);
  ::close(slave);
}

bool TPtyLine::HostListening() {
  const bool now = !HungUp();
  // Gone, or come since the last look: what is in the line was written for an
  // earlier host. (A host that goes and another that comes between two writes
  // of the board are not told apart; the console flushes at open itself.)
  if (now != Listening) FlushTowardHost();
  Listening = now;
  return now;
}

bool TPtyLine::PointLink(std::string& error) {
  // Atomically: the host never finds the name missing or half made.
  const std::string temp = Link + ".new";
  ::unlink(temp.c_str());
  if (::symlink(Slave.c_str(), temp.c_str()) != 0 || ::rename(temp.c_str(), Link.c_str()) != 0) {
    error = Reason(Link);
    return false;
  }
  return true;
}

bool TPtyLine::Replug(std::string& error) {
  ::close(Master);
  Master = -1;
  return MakePair(error) && PointLink(error);
}

std::optional<std::chrono::milliseconds> TPtyLine::WaitForHost(std::chrono::milliseconds limit) const {
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    pollfd p{Master, 0, 0};
    ::poll(&p, 1, 0);
    const auto took =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    if ((p.revents & POLLHUP) == 0) return took;
    if (took >= limit) return std::nullopt;
    ::usleep(2000);
  }
}

}  // namespace boardsim
