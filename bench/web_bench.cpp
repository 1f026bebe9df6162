// Times the web console (--serve) with WebSocket clients on loopback: a key
// event sent on the socket until it is in the console's key queue (its
// answer); a character the board writes until the screen event reaches a
// subscribed socket; the bytes a viewer receives per teletype character at
// the line's pace; and the check-key round trip with 50 connected view-only
// sockets next to a console with none, and the idle CPU with them. Prints one
// Markdown table row per figure.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
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

constexpr const char* kToken = "bench-writer";
constexpr const char* kViewToken = "bench-viewer";

// A free loopback port (the console binds it a moment later).
int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    ::close(fd);
    return -1;
  }
  ::close(fd);
  return ntohs(a.sin_port);
}

// A WebSocket client of the least kind: text frames out (masked, as a client
// must), frames in, the received bytes counted.
class TWsClient {
 public:
  TWsClient(int port, const char* token) {
    for (int attempt = 0; attempt < 100 && Fd < 0; ++attempt) {
      const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(static_cast<uint16_t>(port));
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        Fd = fd;
      } else {
        ::close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    }
    if (Fd < 0) return;
    const int one = 1;
    ::setsockopt(Fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const std::string upgrade = "GET /ws HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                                "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
    if (!WriteAll(Fd, reinterpret_cast<const uint8_t*>(upgrade.data()), upgrade.size())) {
      Fail();
      return;
    }
    while (In.find("\r\n\r\n") == std::string::npos) {
      if (!Fill(5000)) {
      Fail();
      return;
    }
    }
    if (In.compare(0, 12, "HTTP/1.1 101") != 0) {
      Fail();
      return;
    }
    In.erase(0, In.find("\r\n\r\n") + 4);
    std::string hello;
    if (!Send(std::string("{\"cmd\":\"hello\",\"token\":\"") + token + "\"}") || !Next(hello, 5000)) {
      Fail();
      return;
    }
  }
  ~TWsClient() {
    if (Fd >= 0) ::close(Fd);
  }
  TWsClient(const TWsClient&) = delete;
  TWsClient& operator=(const TWsClient&) = delete;
  bool Ok() const { return Fd >= 0; }
  int FdOf() const { return Fd; }

  bool Send(const std::string& text) {
    std::string frame;
    frame += static_cast<char>(0x81);
    if (text.size() < 126) {
      frame += static_cast<char>(0x80 | text.size());
    } else {
      frame += static_cast<char>(0x80 | 126);
      frame += static_cast<char>(text.size() >> 8);
      frame += static_cast<char>(text.size() & 0xFF);
    }
    frame.append(4, '\0');  // a zero mask leaves the payload as it is
    frame += text;
    return WriteAll(Fd, reinterpret_cast<const uint8_t*>(frame.data()), frame.size());
  }
  // The next text message (waiting at most `ms`).
  bool Next(std::string& message, int ms) {
    const auto t0 = TClock::now();
    for (;;) {
      if (Take(message)) return true;
      const int left = ms - static_cast<int>(Since(t0) * 1000);
      if (left <= 0 || !Fill(left)) return false;
    }
  }
  // Reads what has come, without waiting; false when the peer has gone.
  bool Pump() { return Fill(0) || Fd >= 0; }
  bool Take(std::string& message) {
    if (In.size() < 2) return false;
    size_t len = static_cast<uint8_t>(In[1]) & 0x7F, at = 2;
    if (len == 126) {
      if (In.size() < 4) return false;
      len = (static_cast<size_t>(static_cast<uint8_t>(In[2])) << 8) | static_cast<uint8_t>(In[3]);
      at = 4;
    } else if (len == 127) {
      if (In.size() < 10) return false;
      len = 0;
      for (int i = 2; i < 10; ++i) len = (len << 8) | static_cast<uint8_t>(In[static_cast<size_t>(i)]);
      at = 10;
    }
    if (In.size() < at + len) return false;
    message = In.substr(at, len);
    In.erase(0, at + len);
    return true;
  }
  uint64_t Received = 0;

 private:
  void Fail() {
    ::close(Fd);
    Fd = -1;
  }
  bool Fill(int ms) {
    pollfd p{Fd, POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0) return false;
    char buf[65536];
    const ssize_t n = ::read(Fd, buf, sizeof buf);
    if (n <= 0) return false;
    In.append(buf, static_cast<size_t>(n));
    Received += static_cast<uint64_t>(n);
    return true;
  }
  int Fd = -1;
  std::string In;
};

struct TServed {
  explicit TServed(const std::string& console, const std::string& image) : Port(FreePort()) {
    ::setenv("CONSOLEW_TOKEN", kToken, 1);
    ::setenv("CONSOLEW_VIEW_TOKEN", kViewToken, 1);
    Process = std::make_unique<TConsoleProcess>(
        console, image, std::vector<std::string>{"--headless", "--serve", "127.0.0.1:" + std::to_string(Port)}, "");
    Board = std::make_unique<TBareBoard>(Process->MasterFd());
  }
  int Port;
  std::unique_ptr<TConsoleProcess> Process;
  std::unique_ptr<TBareBoard> Board;
};

bool Failed(const char* what) {
  std::fprintf(stderr, "web-bench: %s failed\n", what);
  return false;
}

bool Answered(TWsClient& c, const std::string& id, int ms) {
  std::string m;
  const auto t0 = TClock::now();
  while (Since(t0) * 1000 < ms) {
    if (!c.Next(m, ms)) return false;
    if (m.find("\"id\":" + id) != std::string::npos && m.find("\"ok\"") != std::string::npos) return true;
  }
  return false;
}

bool KeyAndScreen(const std::string& console, const std::string& image) {
  TServed s(console, image);
  if (!s.Process->Started() || !s.Board->Handshake(20)) return Failed("step 1");
  TWsClient writer(s.Port, kToken);
  if (!writer.Ok() || !writer.Send("{\"cmd\":\"take\",\"id\":1}") || !Answered(writer, "1", 5000)) return Failed("step 2");
  // Keys: a press and a release each, from send to answer; the board takes them out between rounds.
  std::vector<double> keyMs;
  for (int i = 0; i < 200; ++i) {
    const std::string id = std::to_string(100 + i);
    const auto t0 = TClock::now();
    if (!writer.Send("{\"cmd\":\"keyevent\",\"code\":\"KeyA\",\"down\":" + std::string(i % 2 == 0 ? "true" : "false") +
                     ",\"id\":" + id + "}") ||
        !Answered(writer, id, 5000)) {
      return Failed("step 3");
    }
    keyMs.push_back(Since(t0) * 1000);
    if (i % 2 == 1 && !s.Board->ReadKey()) return Failed("step 4");  // the queue stays short
  }
  const double keyMed = Rank(keyMs, 0.5);
  Row("web: key event on the WebSocket until in the key queue, median", Fmt("%.2f ms", keyMed),
      Fmt("p99 %.2f ms", Rank(keyMs, 0.99)), "≤ 5 ms", Verdict(keyMed <= 5.0));

  // Screen changes: one character, then the time until a screen event arrives.
  TWsClient viewer(s.Port, kViewToken);
  if (!viewer.Ok() || !viewer.Send("{\"cmd\":\"subscribe\",\"scroll\":true,\"id\":2}") || !Answered(viewer, "2", 5000)) return Failed("step 5");
  std::string m;
  while (viewer.Next(m, 300)) {
  }
  std::vector<double> screenMs;
  for (int i = 0; i < 40; ++i) {
    const auto t0 = TClock::now();
    if (!s.Board->Video(static_cast<uint16_t>(0x0E00 | ('a' + i % 26)))) return Failed("step 6");
    bool seen = false;
    while (!seen && viewer.Next(m, 1000)) seen = m.find("\"event\":\"screen\"") != std::string::npos;
    if (!seen) return Failed("step 7");
    screenMs.push_back(Since(t0) * 1000);
    std::this_thread::sleep_for(std::chrono::milliseconds(37));  // different phases of the tick
  }
  const double screenMed = Rank(screenMs, 0.5), screenMax = Rank(screenMs, 1.0);
  Row("web: a character written until its screen event on a subscribed WebSocket, median", Fmt("%.1f ms", screenMed),
      Fmt("max %.1f ms", screenMax), "≤ 110 ms (one tick)", Verdict(screenMax <= 110.0));

  // Bytes per teletype character at 115200 bit/s (a request of 14 bytes with its
  // ack, about 1.2 ms): text written in place, then text that scrolls the screen.
  for (const bool scrolls : {false, true}) {
    if (!s.Board->Video(0x0003)) return Failed("step 8");  // a clear screen, the cursor at the top
    while (viewer.Next(m, 300)) {
    }
    const uint64_t before = viewer.Received;
    const int chars = scrolls ? 2000 : 1500;  // 1500 fill 19 rows: no scroll yet
    std::atomic<bool> done{false};
    std::thread reader([&] {
      std::string msg;
      while (!done) viewer.Next(msg, 50);
    });
    for (int i = 0; i < chars; ++i) {
      const auto t0 = TClock::now();
      const char ch = scrolls && i % 40 == 39 ? '\n' : static_cast<char>('a' + i % 26);
      if (!s.Board->Video(static_cast<uint16_t>(0x0E00 | static_cast<uint8_t>(ch)))) return Failed("step 9");
      while (Since(t0) < 0.0012) {
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    done = true;
    reader.join();
    const double perChar = static_cast<double>(viewer.Received - before) / chars;
    Row(scrolls ? "web: bytes a viewer receives per teletype character at 115200 bit/s, scrolling (a line in 40 characters)"
                : "web: bytes a viewer receives per teletype character at 115200 bit/s, in place",
        Fmt("%.1f B", perChar), Fmt("%.0f characters", chars), "≤ 64 B", Verdict(perChar <= 64.0));
  }
  return true;
}

// Two consoles, one with 50 view-only sockets, one with none: the check-key round trip in turn, then idle CPU.
// Each serves an image of its own (a console locks the image it serves).
bool ManyViewers(const std::string& console, const std::string& plainImage, const std::string& sharedImage, int pings) {
  TServed plain(console, plainImage), shared(console, sharedImage);
  if (!plain.Process->Started() || !shared.Process->Started() || !plain.Board->Handshake(20) ||
      !shared.Board->Handshake(20)) {
    return false;
  }
  std::vector<std::unique_ptr<TWsClient>> viewers;
  for (int i = 0; i < 50; ++i) {
    viewers.push_back(std::make_unique<TWsClient>(shared.Port, kViewToken));
    if (!viewers.back()->Ok() || !viewers.back()->Send("{\"cmd\":\"subscribe\",\"scroll\":true,\"id\":1}")) return false;
  }
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    std::vector<pollfd> fds;
    for (auto& v : viewers) fds.push_back({v->FdOf(), POLLIN, 0});
    std::string m;
    while (!stop) {
      if (::poll(fds.data(), fds.size(), 100) <= 0) continue;
      for (size_t i = 0; i < fds.size(); ++i) {
        if ((fds[i].revents & POLLIN) != 0) viewers[i]->Next(m, 0);
      }
    }
  });
  bool ok = !TimeCheckKeys(*plain.Board, 200, 1).empty() && !TimeCheckKeys(*shared.Board, 200, 1).empty();
  std::vector<double> without, with;
  for (int i = 0; i < pings && ok; ++i) {
    const bool plainFirst = i % 2 == 0;
    const auto one = TimeCheckKeys(plainFirst ? *plain.Board : *shared.Board, 0, 1);
    const auto two = TimeCheckKeys(plainFirst ? *shared.Board : *plain.Board, 0, 1);
    ok = !one.empty() && !two.empty();
    if (!ok) break;
    (plainFirst ? without : with).push_back(one[0]);
    (plainFirst ? with : without).push_back(two[0]);
  }
  if (ok) {
    const double med = Rank(with, 0.5), baseMed = Rank(without, 0.5);
    Row("web: check-key round trip with 50 view-only WebSockets, median", Fmt("%.1f µs", med),
        Fmt("%.1f µs without them", baseMed), Fmt("≤ %.1f µs (+10%%)", baseMed * 1.1), Verdict(med <= baseMed * 1.1));
    const double c0 = shared.Process->CpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    const double pct = (shared.Process->CpuSeconds() - c0) / 10 * 100;
    Row("web: CPU idle with 50 view-only WebSockets", Fmt("%.2f %% of a core", pct), "over 10 s", "< 2 %",
        Verdict(pct < 2.0));
  }
  stop = true;
  reader.join();
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  std::string console;
  int pings = 5000;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--console") == 0) console = argv[i + 1];
    if (std::strcmp(argv[i], "--pings") == 0) pings = std::atoi(argv[i + 1]);
  }
  if (console.empty() || pings <= 0) {
    std::fprintf(stderr, "usage: web-bench --console PATH [--pings N]\n");
    return 2;
  }
  const std::vector<uint8_t> image = MakeImage();
  char imagePath[] = "/tmp/consolew-bench-XXXXXX.img";
  char secondPath[] = "/tmp/consolew-bench-XXXXXX.img";
  for (char* path : {imagePath, secondPath}) {
    const int fd = ::mkstemps(path, 4);
    const bool written = fd >= 0 && WriteAll(fd, image.data(), image.size());
    if (fd >= 0) ::close(fd);
    if (!written) return 1;
  }
  bool failed = false;
  if (!KeyAndScreen(console, imagePath)) {
    std::fprintf(stderr, "bench: the web console's key and screen latency could not be measured\n");
    failed = true;
  }
  if (!ManyViewers(console, imagePath, secondPath, pings)) {
    std::fprintf(stderr, "bench: the round trip with 50 WebSockets could not be measured\n");
    failed = true;
  }
  ::unlink(imagePath);
  ::unlink(secondPath);
  return failed ? 1 : 0;
}
