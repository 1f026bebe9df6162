// Times the control socket (--control PATH) against what it replaces and
// against the console without clients: how soon a "wait" is answered after
// the video request that completes its text, next to a --pty reader of the
// same console (drawn on the 100 ms tick); the check-key round trip with 50
// subscribed clients next to a console with none; the idle CPU with 50
// subscribed clients; and, while the board scrolls, the memory of a console
// whose subscribed client reads nothing, with its round trip next to a
// console without that client. Prints one Markdown table row per figure.
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
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

struct TOptions {
  std::string Console;
  int Pings = 5000;
  int Waits = 60;
  int Clients = 50;
  int IdleSeconds = 10;
  int ScrollSeconds = 60;
};

bool ParseOptions(int argc, char** argv, TOptions& o) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    const char* v = argv[i + 1];
    if (a == "--console") o.Console = v;
    else if (a == "--pings") o.Pings = std::atoi(v);
    else if (a == "--waits") o.Waits = std::atoi(v);
    else if (a == "--clients") o.Clients = std::atoi(v);
    else if (a == "--idle-seconds") o.IdleSeconds = std::atoi(v);
    else if (a == "--scroll-seconds") o.ScrollSeconds = std::atoi(v);
    else return false;
  }
  return !o.Console.empty() && o.Pings > 0 && o.Waits > 0 && o.Clients > 0 && o.IdleSeconds > 0 &&
         o.ScrollSeconds > 0;
}

// One JSON-lines client of the control socket (what the benchmark needs of it:
// lines out, lines in, the answer of an id found by its text).
class TLineClient {
 public:
  explicit TLineClient(const std::string& path) {
    const auto end = TClock::now() + std::chrono::seconds(10);
    while (TClock::now() < end) {
      Fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_un addr{};
      addr.sun_family = AF_UNIX;
      std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
      if (::connect(Fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) break;
      ::close(Fd);
      Fd = -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (Fd >= 0) ::fcntl(Fd, F_SETFL, ::fcntl(Fd, F_GETFL) | O_NONBLOCK);
  }
  ~TLineClient() {
    if (Fd >= 0) ::close(Fd);
  }
  TLineClient(const TLineClient&) = delete;
  TLineClient& operator=(const TLineClient&) = delete;
  bool Ok() const { return Fd >= 0; }
  int FdOf() const { return Fd; }
  bool Send(const std::string& line) { return WriteAll(Fd, (line + "\n").data(), line.size() + 1); }
  // Whatever has arrived, read now; false at end of file.
  bool Pump() {
    char buf[65536];
    for (;;) {
      const ssize_t n = ::read(Fd, buf, sizeof buf);
      if (n > 0) {
        In.append(buf, static_cast<size_t>(n));
        continue;
      }
      return n < 0 && errno == EAGAIN;
    }
  }
  // The next whole line, if one has arrived.
  bool Line(std::string& line) {
    const size_t nl = In.find('\n');
    if (nl == std::string::npos) return false;
    line = In.substr(0, nl);
    In.erase(0, nl + 1);
    return true;
  }
  // Waits (at most `timeoutMs`) for the answer whose "id" is `id`.
  bool Answer(int id, int timeoutMs, std::string* answer = nullptr) {
    const std::string key = "\"id\":" + std::to_string(id);
    const auto end = TClock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      std::string line;
      while (Line(line)) {
        if (line.find("\"ok\"") != std::string::npos && line.find(key + ",") != std::string::npos) {
          if (answer != nullptr) *answer = line;
          return true;
        }
        if (line.find("\"ok\"") != std::string::npos && line.find(key + "}") != std::string::npos) {
          if (answer != nullptr) *answer = line;
          return true;
        }
      }
      const int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(end - TClock::now()).count());
      if (left <= 0) return false;
      pollfd p{Fd, POLLIN, 0};
      ::poll(&p, 1, left);
      if (!Pump()) return false;
    }
  }

 private:
  int Fd = -1;
  std::string In;
};

// Clients that subscribe and read (and throw away) everything, on a thread of their own.
class TSubscribers {
 public:
  TSubscribers(const std::string& path, int count) {
    for (int i = 0; i < count; ++i) {
      auto c = std::make_unique<TLineClient>(path);
      if (!c->Ok() || !c->Send("{\"cmd\":\"subscribe\",\"id\":1}") || !c->Answer(1, 5000)) return;
      Clients.push_back(std::move(c));
    }
    Reader = std::thread([this] {
      std::vector<pollfd> fds;
      for (auto& c : Clients) fds.push_back({c->FdOf(), POLLIN, 0});
      while (!Stop) {
        if (::poll(fds.data(), fds.size(), 100) <= 0) continue;
        for (size_t i = 0; i < fds.size(); ++i) {
          if ((fds[i].revents & POLLIN) != 0) {
            Clients[i]->Pump();
            std::string line;
            while (Clients[i]->Line(line)) ++Events;
          }
        }
      }
    });
  }
  ~TSubscribers() {
    Stop = true;
    if (Reader.joinable()) Reader.join();
  }
  size_t Count() const { return Clients.size(); }
  std::atomic<uint64_t> Events{0};

 private:
  std::vector<std::unique_ptr<TLineClient>> Clients;
  std::thread Reader;
  std::atomic<bool> Stop{false};
};

bool PinAllThreads(pid_t pid, int cpu) {
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  if (pid == 0) return ::sched_setaffinity(0, sizeof set, &set) == 0;
  std::error_code error;
  bool any = false;
  for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
    const pid_t tid = static_cast<pid_t>(std::stol(task.path().filename().string()));
    if (::sched_setaffinity(tid, sizeof set, &set) != 0) return false;
    any = true;
  }
  return any;
}

void UnpinThisThread() {
  cpu_set_t set;
  CPU_ZERO(&set);
  for (unsigned cpu = 0; cpu < std::thread::hardware_concurrency(); ++cpu) CPU_SET(cpu, &set);
  ::sched_setaffinity(0, sizeof set, &set);
}

std::string TempPath(const char* name) {
  return "/tmp/consolew-bench-" + std::to_string(::getpid()) + "-" + name;
}

// Teletype output of `text` (service 0x10, AH 0x0E), a request a character.
bool Teletype(TBareBoard& board, const std::string& text) {
  for (char ch : text) {
    if (!board.Video(static_cast<uint16_t>(0x0E00 | static_cast<uint8_t>(ch)))) return false;
  }
  return true;
}

// What a terminal shows of `bytes` as text: the escape sequences (cursor
// moves, colours, character sets) left out, so that a text drawn in two
// pieces with a move between them still reads whole.
std::string WithoutEscapes(const std::string& bytes) {
  std::string text;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != '\x1b') {
      text += bytes[i];
      continue;
    }
    if (i + 1 < bytes.size() && bytes[i + 1] == '[') {
      i += 2;
      while (i < bytes.size() && (bytes[i] < 0x40 || bytes[i] > 0x7E)) ++i;
    } else if (i + 1 < bytes.size() && (bytes[i + 1] == '(' || bytes[i + 1] == ')')) {
      i += 2;
    } else {
      ++i;
    }
  }
  return text;
}

// The "wait" answer against the --pty reader of the same console, for the
// same text; both from the moment the last character's request was written.
bool WaitLatency(const TOptions& opt, const std::string& image) {
  const std::string sock = TempPath("wait.sock"), link = TempPath("wait.pty");
  TConsoleProcess console(opt.Console, image, {"--headless", "--control", sock, "--pty", link}, "");
  TBareBoard board(console.MasterFd());
  if (!console.Started() || !board.Handshake(20)) return false;
  TLineClient client(sock);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the pty made
  const int pty = ::open(link.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (!client.Ok() || pty < 0) return false;
  MakeRawNonBlocking(pty);
  std::vector<double> waitMs, ptyMs;
  int ptyMisses = 0;
  for (int i = 0; i < opt.Waits; ++i) {
    const std::string mark = "<" + std::to_string(1000 + i) + ">";
    // A clear screen, and a place of its own for each mark: the terminal draws
    // only the cells that differ from what it showed, which must be the whole mark.
    if (!board.Video(0x0003)) return false;
    if (!board.Video(0x0200, 0, 0, static_cast<uint16_t>((2 + i % 20) << 8 | (i * 7) % 40))) return false;
    client.Send("{\"cmd\":\"wait\",\"text\":\"" + mark + "\",\"timeout\":10,\"id\":" + std::to_string(i + 10) + "}");
    client.Send("{\"cmd\":\"status\",\"id\":1}");
    if (!client.Answer(1, 5000)) return false;  // the wait stands now
    std::this_thread::sleep_for(std::chrono::milliseconds(150));  // the clear drawn on the pty
    Drain(pty, 0);
    if (!Teletype(board, mark.substr(0, mark.size() - 1))) return false;
    const auto t0 = TClock::now();
    if (!Teletype(board, mark.substr(mark.size() - 1))) return false;
    bool answered = false, shown = false;
    std::string drawn;
    // The terminal may hold the row the board types in back for up to 2 s.
    while (!(answered && shown) && Since(t0) < 2.5) {
      pollfd p[2] = {{client.FdOf(), POLLIN, 0}, {pty, POLLIN, 0}};
      ::poll(p, 2, 50);
      if (!answered && (p[0].revents & POLLIN) != 0 && client.Pump() && client.Answer(i + 10, 0)) {
        answered = true;
        waitMs.push_back(Since(t0) * 1000);
      }
      char buf[8192];
      const ssize_t n = (p[1].revents & POLLIN) != 0 ? ::read(pty, buf, sizeof buf) : 0;
      if (n > 0) drawn.append(buf, static_cast<size_t>(n));
      if (!shown && n > 0 && WithoutEscapes(drawn).find(mark) != std::string::npos) {
        shown = true;
        ptyMs.push_back(Since(t0) * 1000);
      }
    }
    if (!answered) return false;
    if (!shown) {
      ++ptyMisses;  // not drawn within 2.5 s: not counted
    }
  }
  ::close(pty);
  if (ptyMs.empty()) return false;
  const double med = Rank(waitMs, 0.5), ptyMed = Rank(ptyMs, 0.5);
  Row("wait answered after the video request completing its text, median", Fmt("%.2f ms", med),
      Fmt("%.1f ms through --pty (100 ms tick)", ptyMed), "≤ 5 ms", Verdict(med <= 5.0));
  Row("wait answered, p99 (samples)", Fmt("%.2f ms", Rank(waitMs, 0.99)),
      Fmt("%.0f --pty samples", static_cast<double>(ptyMs.size())) + Fmt(" (%.0f not drawn in 2.5 s)", ptyMisses) +
          Fmt(", p99 %.1f ms", Rank(ptyMs, 0.99)),
      "—", "info");
  return true;
}

// Two consoles side by side, pinned alike, one round trip each in turn: one
// with `clients` subscribed clients, one with none. Then the idle CPU of the
// one with clients.
bool RoundTripWithClients(const TOptions& opt, const std::string& image) {
  const std::string sock = TempPath("many.sock");
  TConsoleProcess plain(opt.Console, image, {"--headless"}, "");
  TConsoleProcess shared(opt.Console, image, {"--headless", "--control", sock}, "");
  TBareBoard plainBoard(plain.MasterFd()), sharedBoard(shared.MasterFd());
  if (!plain.Started() || !shared.Started() || !plainBoard.Handshake(20) || !sharedBoard.Handshake(20)) return false;
  TSubscribers subscribers(sock, opt.Clients);
  if (subscribers.Count() != static_cast<size_t>(opt.Clients)) return false;
  const int cores = static_cast<int>(std::thread::hardware_concurrency());
  const bool pinned = cores >= 2 && PinAllThreads(plain.ProcessId(), cores - 1) &&
                      PinAllThreads(shared.ProcessId(), cores - 1) && PinAllThreads(0, 0);
  constexpr int kWarmUp = 200;
  bool ok = !TimeCheckKeys(plainBoard, kWarmUp, 1).empty() && !TimeCheckKeys(sharedBoard, kWarmUp, 1).empty();
  std::vector<double> without, with;
  for (int i = 0; i < opt.Pings && ok; ++i) {
    const bool plainFirst = i % 2 == 0;
    const auto one = TimeCheckKeys(plainFirst ? plainBoard : sharedBoard, 0, 1);
    const auto two = TimeCheckKeys(plainFirst ? sharedBoard : plainBoard, 0, 1);
    ok = !one.empty() && !two.empty();
    if (!ok) break;
    (plainFirst ? without : with).push_back(one[0]);
    (plainFirst ? with : without).push_back(two[0]);
  }
  UnpinThisThread();
  if (!ok) return false;
  const double med = Rank(with, 0.5), baseMed = Rank(without, 0.5);
  char figure[96];
  std::snprintf(figure, sizeof figure, "check-key round trip with %d subscribed clients, median%s", opt.Clients,
                pinned ? " (pinned)" : "");
  Row(figure, Fmt("%.1f µs", med), Fmt("%.1f µs without clients", baseMed), Fmt("≤ %.1f µs (+10%%)", baseMed * 1.1),
      Verdict(med <= baseMed * 1.1));

  const double c0 = shared.CpuSeconds();
  std::this_thread::sleep_for(std::chrono::seconds(opt.IdleSeconds));
  const double pct = (shared.CpuSeconds() - c0) / opt.IdleSeconds * 100.0;
  std::snprintf(figure, sizeof figure, "CPU idle with %d subscribed clients", opt.Clients);
  Row(figure, Fmt("%.2f %% of a core", pct), Fmt("over %.0f s", opt.IdleSeconds), "< 2 %",
      Verdict(pct >= 0 && pct < 2.0));
  return true;
}

// Both consoles scroll alike; one has a subscribed client that reads nothing.
bool ScrollWithLazyClient(const TOptions& opt, const std::string& image) {
  const std::string sock = TempPath("lazy.sock");
  TConsoleProcess plain(opt.Console, image, {"--headless"}, "");
  TConsoleProcess lazyOne(opt.Console, image, {"--headless", "--control", sock}, "");
  TBareBoard plainBoard(plain.MasterFd()), lazyBoard(lazyOne.MasterFd());
  if (!plain.Started() || !lazyOne.Started() || !plainBoard.Handshake(20) || !lazyBoard.Handshake(20)) return false;
  TLineClient lazy(sock);
  if (!lazy.Ok() || !lazy.Send("{\"cmd\":\"subscribe\",\"id\":1}")) return false;
  // Pinned as the round trips with clients: both consoles on the last core, the board on the first.
  const int cores = static_cast<int>(std::thread::hardware_concurrency());
  const bool pinned = cores >= 2 && PinAllThreads(plain.ProcessId(), cores - 1) &&
                      PinAllThreads(lazyOne.ProcessId(), cores - 1) && PinAllThreads(0, 0);
  // A line a turn on each, with one timed round trip each in turn.
  const auto turn = [](TBareBoard& b, int n, std::vector<double>* ping) {
    const std::string line = "\r\nline " + std::to_string(n) + std::string(60, '=');
    if (!Teletype(b, line)) return false;
    const auto t = TimeCheckKeys(b, 0, 1);
    if (t.empty()) return false;
    if (ping != nullptr) ping->push_back(t[0]);
    return true;
  };
  for (int n = 0; n < 200; ++n) {
    if (!turn(plainBoard, n, nullptr) || !turn(lazyBoard, n, nullptr)) return false;
  }
  const long rss0 = lazyOne.ResidentKb(), plain0 = plain.ResidentKb();
  std::vector<double> without, with;
  const auto start = TClock::now();
  for (int n = 0; Since(start) < opt.ScrollSeconds; ++n) {
    const bool plainFirst = n % 2 == 0;
    const bool last5 = Since(start) >= opt.ScrollSeconds - 5;
    if (!turn(plainFirst ? plainBoard : lazyBoard, n, last5 ? (plainFirst ? &without : &with) : nullptr) ||
        !turn(plainFirst ? lazyBoard : plainBoard, n, last5 ? (plainFirst ? &with : &without) : nullptr)) {
      return false;
    }
  }
  UnpinThisThread();
  const long grown = lazyOne.ResidentKb() - rss0, plainGrown = plain.ResidentKb() - plain0;
  char figure[112];
  std::snprintf(figure, sizeof figure, "memory growth, a subscribed client reading nothing, %d s of scrolling",
                opt.ScrollSeconds);
  Row(figure, Fmt("%.2f MiB", static_cast<double>(grown) / 1024.0),
      Fmt("%.2f MiB without the client", static_cast<double>(plainGrown) / 1024.0), "≤ 2 MiB",
      Verdict(grown <= 2048));
  if (with.empty() || without.empty()) return false;
  const double med = Rank(with, 0.5), baseMed = Rank(without, 0.5);
  Row(pinned ? "check-key round trip while scrolling, with that client, median (last 5 s, pinned)"
             : "check-key round trip while scrolling, with that client, median (last 5 s)",
      Fmt("%.1f µs", med),
      Fmt("%.1f µs without the client", baseMed), Fmt("≤ %.1f µs (+10%%)", baseMed * 1.1),
      Verdict(med <= baseMed * 1.1));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  TOptions opt;
  if (!ParseOptions(argc, argv, opt)) {
    std::fprintf(stderr,
                 "usage: control-bench --console PATH [--pings N] [--waits N] [--clients N]"
                 " [--idle-seconds N] [--scroll-seconds N]\n");
    return 2;
  }
  const std::vector<uint8_t> image = MakeImage();
  char imagePath[] = "/tmp/consolew-bench-XXXXXX.img";
  const int imageFd = ::mkstemps(imagePath, 4);
  if (imageFd < 0 || !WriteAll(imageFd, image.data(), image.size())) {
    std::fprintf(stderr, "bench: cannot write the image\n");
    return 1;
  }
  ::close(imageFd);
  bool failed = false;
  if (!WaitLatency(opt, imagePath)) {
    std::fprintf(stderr, "bench: the wait latency could not be measured\n");
    failed = true;
  }
  if (!RoundTripWithClients(opt, imagePath)) {
    std::fprintf(stderr, "bench: the round trip with clients could not be measured\n");
    failed = true;
  }
  if (!ScrollWithLazyClient(opt, imagePath)) {
    std::fprintf(stderr, "bench: the scrolling board with a client reading nothing could not be measured\n");
    failed = true;
  }
  ::unlink(imagePath);
  return failed ? 1 : 0;
}
