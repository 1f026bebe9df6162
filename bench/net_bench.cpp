// Times the console through network serial servers on loopback, each figure
// next to a bare client doing the same exchanges through the same server in
// the same run: ser2net (raw and RFC 2217, chardelay off, no tcp(nodelay)) in
// front of a pty the board plays on, and a server that writes a byte at a time
// without TCP_NODELAY, as QEMU's -serial tcp does. Prints Markdown table rows.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bare_board.h"
#include "bench/bench_common.h"
#include "bench/bench_stats.h"
#include "bench/console_process.h"
#include "bench/fd_io.h"

using namespace bench;

namespace {

constexpr int kWarmup = 200;

void SetInt(int fd, int level, int name, int value) { ::setsockopt(fd, level, name, &value, sizeof value); }

uint16_t FreePort() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(s);
  return ntohs(a.sin_port);
}

// A client socket, non-blocking; -1 when nobody listens. ser2net opens its
// device when a client comes: `settleMs` gives it the time to.
int Connect(uint16_t port, bool noDelay, int settleMs = 0) {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(s);
    return -1;
  }
  if (noDelay) SetInt(s, IPPROTO_TCP, TCP_NODELAY, 1);
  ::fcntl(s, F_SETFL, ::fcntl(s, F_GETFL) | O_NONBLOCK);
  if (settleMs > 0) ::usleep(static_cast<useconds_t>(settleMs) * 1000);
  return s;
}

bool WaitListening(uint16_t port) {
  for (int i = 0; i < 500; ++i) {
    const int s = Connect(port, false);
    if (s >= 0) {
      ::close(s);
      return true;
    }
    ::usleep(10000);
  }
  return false;
}

// ser2net with its own configuration, for the length of the run.
class TSer2net {
 public:
  TSer2net(const std::string& device, uint16_t raw, uint16_t rfc2217) {
    char dir[] = "/tmp/consolew-netbench-XXXXXX";
    if (::mkdtemp(dir) == nullptr) return;
    Config = std::string(dir) + "/ser2net.yaml";
    std::ofstream y(Config);
    const std::pair<const char*, std::string> accepters[] = {
        {"raw", "tcp,127.0.0.1," + std::to_string(raw)},
        {"rfc", "telnet(rfc2217),tcp,127.0.0.1," + std::to_string(rfc2217)}};
    for (const auto& [name, accepter] : accepters) {
      y << "connection: &" << name << "\n  accepter: " << accepter << "\n  connector: serialdev,"
        << device << ",115200n81,local\n  options:\n    chardelay: false\n";
    }
    y.close();
    Pid = ::fork();
    if (Pid == 0) {
      const int null = ::open("/dev/null", O_RDWR);
      ::dup2(null, 1);
      ::dup2(null, 2);
      for (const char* exe : {"/usr/sbin/ser2net", "/usr/bin/ser2net"}) {
        ::execl(exe, "ser2net", "-n", "-d", "-c", Config.c_str(), static_cast<char*>(nullptr));
      }
      ::_exit(127);
    }
    Ready = Pid > 0 && WaitListening(raw) && WaitListening(rfc2217);
  }
  ~TSer2net() {
    if (Pid > 0) {
      ::kill(Pid, SIGTERM);
      ::waitpid(Pid, nullptr, 0);
    }
    if (!Config.empty()) {
      ::unlink(Config.c_str());
      ::rmdir(Config.substr(0, Config.rfind('/')).c_str());
    }
  }
  bool Ready = false;

 private:
  std::string Config;
  pid_t Pid = -1;
};

// A server as QEMU's -serial tcp is one: what the board sends goes out a byte
// per write, without TCP_NODELAY; what arrives goes to the board.
class TByteServer {
 public:
  explicit TByteServer(int boardFd) : Board(boardFd) {
    Listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    SetInt(Listener, SOL_SOCKET, SO_REUSEADDR, 1);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(Listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(Listener, 4);
    ::getsockname(Listener, reinterpret_cast<sockaddr*>(&a), &len);
    Port = ntohs(a.sin_port);
    Thread = std::thread([this] { Run(); });
  }
  ~TByteServer() {
    Stop = true;
    Thread.join();
    ::close(Listener);
  }
  uint16_t Port = 0;

 private:
  void Run() {
    int peer = -1;
    uint8_t buf[4096];
    while (!Stop) {
      pollfd p[2] = {{peer >= 0 ? peer : Listener, POLLIN, 0}, {Board, POLLIN, 0}};
      if (::poll(p, peer >= 0 ? 2 : 1, 50) <= 0) continue;
      if (peer < 0) {
        peer = ::accept4(Listener, nullptr, nullptr, SOCK_CLOEXEC);
        continue;
      }
      if (p[0].revents & (POLLIN | POLLHUP)) {
        const ssize_t n = ::read(peer, buf, sizeof buf);
        if (n <= 0) {
          ::close(peer);
          peer = -1;
          continue;
        }
        WriteAll(Board, buf, static_cast<size_t>(n));
      }
      if (p[1].revents & POLLIN) {
        const ssize_t n = ::read(Board, buf, sizeof buf);
        for (ssize_t i = 0; i < n; ++i) (void)::send(peer, buf + i, 1, MSG_NOSIGNAL);
      }
    }
    if (peer >= 0) ::close(peer);
  }

  int Board;
  int Listener = -1;
  std::atomic<bool> Stop{false};
  std::thread Thread;
};

// Check-key round trips with a bare client on `port` serving them.
std::vector<double> BarePings(TBareBoard& board, uint16_t port, bool quickAck, int count, int warmup) {
  const int s = Connect(port, true, 300);
  if (s < 0) return {};
  TBareHost host(s, nullptr, quickAck);
  std::thread h([&] { host.ServeCheckKeys(static_cast<size_t>(warmup + count)); });
  std::vector<double> t = TimeCheckKeys(board, warmup, count);
  h.join();
  ::close(s);
  return t;
}

double BareRead(TBareBoard& board, uint16_t port, const std::vector<uint8_t>& image) {
  const int s = Connect(port, true, 300);
  if (s < 0) return -1;
  TBareHost host(s, image.data(), true);
  std::thread h([&] { host.ServeTracks(kTracks); });
  const double t = TimeRead(board, kTracks, image);
  h.join();
  ::close(s);
  return t;
}

double Ms(double micros) { return micros / 1000.0; }

// "median / slowest" of exchanges that must never wait for a delayed ACK.
bool NoDelayedAck(const std::vector<double>& t) { return !t.empty() && Rank(t, 0.5) < 2000 && Rank(t, 1.0) < 40000; }

}  // namespace

int main(int argc, char** argv) {
  std::string consolePath;
  int pings = 5000;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--console" && i + 1 < argc) consolePath = argv[++i];
    else if (a == "--pings" && i + 1 < argc) pings = std::atoi(argv[++i]);
  }
  if (consolePath.empty() || pings <= 0) {
    std::fprintf(stderr, "usage: net-bench --console PATH [--pings N]\n");
    return 2;
  }
  const std::vector<uint8_t> image = MakeImage();
  char imagePath[] = "/tmp/consolew-netbench-XXXXXX.img";
  const int imageFd = ::mkstemps(imagePath, 4);
  if (imageFd < 0 || !WriteAll(imageFd, image.data(), image.size())) return 1;
  ::close(imageFd);
  ::signal(SIGPIPE, SIG_IGN);
  bool failed = false;

  TPtyPair pty(false);
  const uint16_t rawPort = FreePort(), rfcPort = FreePort();
  TSer2net server(pty.SlavePath, rawPort, rfcPort);
  if (!server.Ready) {
    std::fprintf(stderr, "net-bench: ser2net did not start (make deps installs it)\n");
    ::unlink(imagePath);
    return 1;
  }
  TBareBoard board(pty.Master);

  // Baselines through ser2net: a bare client with TCP_NODELAY and quick ACKs.
  const std::vector<double> basePing = BarePings(board, rawPort, true, pings, kWarmup);
  const double baseRead = BareRead(board, rawPort, image);
  // The same client without quick ACKs meets ser2net's Nagle on every exchange.
  const std::vector<double> slowPing = BarePings(board, rawPort, false, 20, 2);

  std::vector<double> ping, rfcPing;
  double read = -1;
  {
    TConsoleProcess console(consolePath, imagePath, {}, {}, "tcp://127.0.0.1:" + std::to_string(rawPort));
    if (console.Started() && board.Handshake(20)) {
      ping = TimeCheckKeys(board, kWarmup, pings);
      read = TimeRead(board, kTracks, image);
    }
  }
  Drain(pty.Master, 200);
  {
    TConsoleProcess console(consolePath, imagePath, {}, {}, "rfc2217://127.0.0.1:" + std::to_string(rfcPort));
    if (console.Started() && board.Handshake(20)) rfcPing = TimeCheckKeys(board, kWarmup, pings / 5);
  }
  if (ping.empty() || basePing.empty() || read <= 0 || baseRead <= 0) {
    std::fprintf(stderr, "net-bench: an exchange through ser2net failed\n");
    failed = true;
  } else {
    const double med = Rank(ping, 0.5), baseMed = Rank(basePing, 0.5);
    Row("check-key round trip through ser2net raw, median", Fmt("%.1f µs", med), Fmt("%.1f µs bare client", baseMed),
        Fmt("≤ %.1f µs (1.3x)", baseMed * 1.3), Verdict(med <= baseMed * 1.3));
    const double mbs = static_cast<double>(kImageBytes) / read / 1e6;
    const double baseMbs = static_cast<double>(kImageBytes) / baseRead / 1e6;
    Row("image read 1.44 MB through ser2net raw", Fmt("%.2f MB/s", mbs), Fmt("%.2f MB/s bare client", baseMbs),
        Fmt("≥ %.2f MB/s (80%%)", baseMbs * 0.8), Verdict(mbs >= baseMbs * 0.8));
    Row("check-key through ser2net without tcp(nodelay), median / slowest",
        Fmt("%.2f ms", Ms(med)) + Fmt(" / %.2f ms", Ms(Rank(ping, 1.0))),
        Fmt("%.1f ms median without quick ACKs", Ms(Rank(slowPing, 0.5))), "< 2 ms, none ≥ 40 ms",
        Verdict(NoDelayedAck(ping)));
  }
  if (!rfcPing.empty()) {
    Row("check-key round trip through ser2net RFC 2217, median", Fmt("%.1f µs", Rank(rfcPing, 0.5)),
        Fmt("%.1f µs bare client (raw)", Rank(basePing, 0.5)), "—", "info");
  } else {
    failed = true;
  }

  // A server that writes a byte at a time without TCP_NODELAY (QEMU's -serial tcp).
  {
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return 1;
    MakeRawNonBlocking(sv[0]);
    MakeRawNonBlocking(sv[1]);
    std::vector<double> qemu, qemuSlow;
    {
      TByteServer byteServer(sv[1]);
      TBareBoard qboard(sv[0]);
      qemuSlow = BarePings(qboard, byteServer.Port, false, 20, 2);
      TConsoleProcess console(consolePath, imagePath, {}, {}, "tcp://127.0.0.1:" + std::to_string(byteServer.Port));
      if (console.Started() && qboard.Handshake(20)) qemu = TimeCheckKeys(qboard, kWarmup, pings / 5);
    }
    ::close(sv[0]);
    ::close(sv[1]);
    if (qemu.empty()) failed = true;
    Row("check-key through a byte-at-a-time server (as QEMU -serial tcp), median / slowest",
        Fmt("%.2f ms", Ms(Rank(qemu, 0.5))) + Fmt(" / %.2f ms", Ms(Rank(qemu, 1.0))),
        Fmt("%.1f ms median without quick ACKs", Ms(Rank(qemuSlow, 0.5))), "< 2 ms, none ≥ 40 ms",
        Verdict(NoDelayedAck(qemu)));
  }
  ::unlink(imagePath);
  return failed ? 1 : 0;
}
