// The line board-sim offers on a pty of its own (--pty-link): a host that
// opens it reads only what the board wrote while it listened, never what the
// board sent while it ran alone or what an earlier host left unread.
#include "tools/pty_line.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tools/board_link.h"

namespace boardsim {
namespace {

namespace fs = std::filesystem;

// Up to `n` bytes the host can read within a second.
std::string ReadSome(int fd, size_t n) {
  std::string got;
  while (got.size() < n) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 1000) <= 0) break;
    char buf[64];
    const ssize_t r = ::read(fd, buf, std::min(sizeof buf, n - got.size()));
    if (r <= 0) break;
    got.append(buf, static_cast<size_t>(r));
  }
  return got;
}

TEST(PtyLine, AHostReadsOnlyWhatTheBoardWroteWhileItListened) {
  const fs::path dir = fs::temp_directory_path() / ("consolew-ptyline-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string link = (dir / "line").string();
  std::string error;
  auto line = TPtyLine::Create(link, error);
  ASSERT_TRUE(line) << error;
  TSystemClock clock;
  TPacer pacer(clock, 0);
  TFaultInjector faults;
  TLinkConfig config;
  config.HostMayLeave = true;
  TBoardLink board(line->MasterFd(), clock, pacer, faults, config);
  board.SetHostListening([&line] { return line->HostListening(); });
  const auto send = [&board](const std::string& text) {
    board.SendNoise(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
  };
  const auto open = [&link] { return ::open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); };

  // The board alone: its retries go nowhere.
  for (int i = 0; i < 50; ++i) send("alone");
  int host = open();
  ASSERT_GE(host, 0);
  send("one");
  EXPECT_EQ(ReadSome(host, 3), "one");

  // A host that leaves bytes unread and goes: the next one does not get them.
  send("left");
  ::close(host);
  send("lost");
  host = open();
  ASSERT_GE(host, 0);
  send("two");
  EXPECT_EQ(ReadSome(host, 3), "two");
  ::close(host);
  line.reset();
  fs::remove_all(dir);
}

}  // namespace
}  // namespace boardsim
