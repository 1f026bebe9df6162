// Times the console program against the physical limits of its link: the
// keyboard round trip and a whole-image read over a pty, each next to two bare
// threads doing the same exchange; the round trip with --trace next to the
// same console without it; the same read at 115200 bit/s against the
// line-rate bound and against the bare host through the same line; the idle
// CPU and the peak memory of the connected program.
// Prints one Markdown table row per figure.
#include <fcntl.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <atomic>
#include <poll.h>
#include <sys/ioctl.h>
#include <vector>

#include "bench/bare_board.h"
#include "bench/bench_common.h"
#include "bench/bench_stats.h"
#include "bench/console_process.h"
#include "bench/fd_io.h"
#include "bench/line_relay.h"
#include "tools/fat12.h"

using namespace bench;

namespace {

constexpr double kLineBytesPerSecond = 11520.0;  // 115200 bit/s, 10 bits a byte

struct TOptions {
  std::string Console;
  int Pings = 5000;
  uint32_t PacedTracks = 10;
  int IdleSeconds = 10;
};

// Every thread of process `pid` (0: this thread only) on core `cpu`.
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

// Seconds for the board to read `tracks` tracks at 115200 bit/s both ways:
// the board on one end of a socket pair, the line relay between its other end
// and `hostFd` (the pty master of whichever host serves); negative on failure.
double PacedRead(int hostFd, uint32_t tracks, const std::vector<uint8_t>& image) {
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) return -1;
  MakeRawNonBlocking(sv[0]);
  MakeRawNonBlocking(sv[1]);
  double seconds = -1;
  {
    TLineRelay line(hostFd, sv[1], 115200);
    TBareBoard paced(sv[0]);
    seconds = TimeRead(paced, tracks, image);
  }
  ::close(sv[0]);
  ::close(sv[1]);
  return seconds;
}

bool ParseOptions(int argc, char** argv, TOptions& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : ""; };
    if (a == "--console") o.Console = value();
    else if (a == "--pings") o.Pings = std::atoi(value());
    else if (a == "--paced-tracks") o.PacedTracks = static_cast<uint32_t>(std::atoi(value()));
    else if (a == "--idle-seconds") o.IdleSeconds = std::atoi(value());
    else return false;
  }
  return !o.Console.empty() && o.Pings > 0 && o.PacedTracks <= kTracks && o.IdleSeconds > 0;
}

}  // namespace

int main(int argc, char** argv) {
  TOptions opt;
  if (!ParseOptions(argc, argv, opt)) {
    std::fprintf(stderr,
                 "usage: console-bench --console PATH [--pings N] [--paced-tracks N]"
                 " [--idle-seconds N]\n");
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

  // Baselines: the same exchanges between two bare threads over a pty.
  std::vector<double> basePing;
  double baseRead = -1;
  {
    TPtyPair pty;
    TBareHost host(pty.Slave, image.data());
    TBareBoard board(pty.Master);
    std::thread h([&] { host.ServeCheckKeys(static_cast<size_t>(200 + opt.Pings)); });
    basePing = TimeCheckKeys(board, 200, opt.Pings);
    h.join();
    std::thread r([&] { host.ServeTracks(kTracks); });
    baseRead = TimeRead(board, kTracks, image);
    r.join();
  }

  TConsoleProcess console(opt.Console, imagePath);
  TBareBoard board(console.MasterFd());
  if (!console.Started() || !board.Handshake(20)) {
    std::fprintf(stderr, "bench: the console did not answer the handshake\n");
    ::unlink(imagePath);
    return 1;
  }

  // Keyboard round trip.
  const std::vector<double> ping = TimeCheckKeys(board, 200, opt.Pings);
  if (ping.empty() || basePing.empty()) {
    failed = true;
  } else {
    const double med = Rank(ping, 0.5), baseMed = Rank(basePing, 0.5);
    Row("check-key round trip, median", Fmt("%.1f µs", med), Fmt("%.1f µs", baseMed),
        Fmt("≤ %.1f µs (+50%%)", baseMed * 1.5), Verdict(med <= baseMed * 1.5));
    Row("check-key round trip, p99", Fmt("%.1f µs", Rank(ping, 0.99)),
        Fmt("%.1f µs", Rank(basePing, 0.99)), "—", "info");
  }

  // Whole image, unpaced.
  const double readS = TimeRead(board, kTracks, image);
  if (readS <= 0 || baseRead <= 0) {
    failed = true;
  } else {
    const double mbs = static_cast<double>(kImageBytes) / readS / 1e6;
    const double baseMbs = static_cast<double>(kImageBytes) / baseRead / 1e6;
    Row("image read 1.44 MB unpaced", Fmt("%.2f MB/s", mbs), Fmt("%.2f MB/s", baseMbs),
        Fmt("≥ %.2f MB/s (70%%)", baseMbs * 0.7), Verdict(mbs >= baseMbs * 0.7));
  }

  // Idle: the board connected and silent.
  {
    const double c0 = console.CpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(opt.IdleSeconds));
    const double pct = (console.CpuSeconds() - c0) / opt.IdleSeconds * 100.0;
    Row("CPU while the board is idle", Fmt("%.2f %% of a core", pct),
        Fmt("over %.0f s", opt.IdleSeconds), "< 1 %", Verdict(pct >= 0 && pct < 1.0));
  }

  // Idle with the terminal front-end: a silent board, the screen drawn in a
  // terminal (a pty whose output is read and thrown away).
  {
    const int term = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char termName[256] = {};
    if (term >= 0 && ::grantpt(term) == 0 && ::unlockpt(term) == 0 &&
        ::ptsname_r(term, termName, sizeof termName) == 0) {
      winsize ws{};
      ws.ws_col = 80;
      ws.ws_row = 26;
      ::ioctl(term, TIOCSWINSZ, &ws);
      TConsoleProcess terminal(opt.Console, imagePath, {"--terminal"}, termName);
      std::atomic<bool> stop{false};
      std::thread drain([&] {
        char buf[4096];
        while (!stop) {
          pollfd p{term, POLLIN, 0};
          if (::poll(&p, 1, 100) > 0 && ::read(term, buf, sizeof buf) <= 0) break;
        }
      });
      std::this_thread::sleep_for(std::chrono::seconds(1));  // started and drawn
      const double c0 = terminal.CpuSeconds();
      std::this_thread::sleep_for(std::chrono::seconds(opt.IdleSeconds));
      const double pct = (terminal.CpuSeconds() - c0) / opt.IdleSeconds * 100.0;
      stop = true;
      drain.join();
      Row("CPU idle, terminal front-end", Fmt("%.2f %% of a core", pct), Fmt("over %.0f s", opt.IdleSeconds),
          "< 1 %", Verdict(pct >= 0 && pct < 1.0));
    }
    if (term >= 0) ::close(term);
  }

  // The same read at 115200 bit/s in both directions: against the line's
  // bound, and against the bare host through the same relay just before, so
  // that the ratio shows the host's own cost on a paced line.
  if (opt.PacedTracks > 0) {
    double bareS = -1;
    {
      TPtyPair pty;
      TBareHost host(pty.Slave, image.data());
      std::thread h([&] { host.ServeTracks(opt.PacedTracks); });
      bareS = PacedRead(pty.Master, opt.PacedTracks, image);
      h.join();
    }
    const double pacedS = PacedRead(console.MasterFd(), opt.PacedTracks, image);
    if (pacedS <= 0 || bareS <= 0) {
      failed = true;
    } else {
      const double bound =
          static_cast<double>(opt.PacedTracks) * kTrackWireBytes / kLineBytesPerSecond;
      char figure[96];
      std::snprintf(figure, sizeof figure, "image read at 115200 bit/s, %u tracks",
                    opt.PacedTracks);
      Row(figure, Fmt("%.3f s", pacedS), Fmt("%.3f s line bound", bound),
          Fmt("≤ %.3f s (+2%%)", bound * 1.02), Verdict(pacedS <= bound * 1.02));
      const double ratio = pacedS / bareS;
      std::snprintf(figure, sizeof figure, "image read at 115200 bit/s, %u tracks, against the bare host",
                    opt.PacedTracks);
      Row(figure, Fmt("%.3f s", pacedS) + Fmt(" (%.4fx)", ratio), Fmt("%.3f s bare host, same relay", bareS),
          "≤ 1.005x", Verdict(ratio <= 1.005));
    }
  }

  // The round trip with --trace on, against a console without it: two fresh
  // consoles side by side, one round trip each in turn, so that both see the
  // same moments of a machine that other work may share. Last, so that the
  // trace file's writing-back disturbs no other figure.
  {
    char tracePath[] = "/tmp/consolew-bench-XXXXXX.trace";
    const int traceFd = ::mkstemps(tracePath, 6);
    if (traceFd >= 0) ::close(traceFd);
    TConsoleProcess plain(opt.Console, imagePath);
    TConsoleProcess traced(opt.Console, imagePath, {"--trace", tracePath}, "");
    TBareBoard plainBoard(plain.MasterFd()), tracedBoard(traced.MasterFd());
    if (traceFd < 0 || !plain.Started() || !traced.Started() || !plainBoard.Handshake(20) ||
        !tracedBoard.Handshake(20)) {
      std::fprintf(stderr, "bench: the consoles with and without --trace did not answer the handshake\n");
      failed = true;
    } else {
      // The same places for both: every thread of the two consoles on the last
      // core, the board on the first, so that the two differ by the trace alone.
      const int cores = static_cast<int>(std::thread::hardware_concurrency());
      const bool pinned = cores >= 2 && PinAllThreads(plain.ProcessId(), cores - 1) &&
                          PinAllThreads(traced.ProcessId(), cores - 1) && PinAllThreads(0, 0);
      constexpr int kWarmUp = 200;
      bool ok = !TimeCheckKeys(plainBoard, kWarmUp, 1).empty() && !TimeCheckKeys(tracedBoard, kWarmUp, 1).empty();
      std::vector<double> without, with;
      for (int i = 0; i < opt.Pings && ok; ++i) {
        // Each goes first in every other turn.
        const bool plainFirst = i % 2 == 0;
        const auto one = TimeCheckKeys(plainFirst ? plainBoard : tracedBoard, 0, 1);
        const auto two = TimeCheckKeys(plainFirst ? tracedBoard : plainBoard, 0, 1);
        ok = !one.empty() && !two.empty();
        if (!ok) break;
        (plainFirst ? without : with).push_back(one[0]);
        (plainFirst ? with : without).push_back(two[0]);
      }
      std::ifstream written(tracePath, std::ios::binary | std::ios::ate);
      const double traceBytes = static_cast<double>(written.tellg());
      if (!ok || traceBytes <= 0) {
        std::fprintf(stderr, "bench: the round trips with --trace failed\n");
        failed = true;
      } else {
        const double med = Rank(with, 0.5), baseMed = Rank(without, 0.5);
        Row(pinned ? "check-key round trip with --trace, median (pinned)" : "check-key round trip with --trace, median",
            Fmt("%.1f µs", med), Fmt("%.1f µs without", baseMed), Fmt("≤ %.1f µs (+10%%)", baseMed * 1.1),
            Verdict(med <= baseMed * 1.1));
        const double exchanges = static_cast<double>(opt.Pings + kWarmUp + 2);
        Row("trace written per check-key round trip", Fmt("%.0f bytes", traceBytes / exchanges),
            Fmt("%.1f MB in all", traceBytes / 1e6), "—", "info");
      }
    }
    ::unlink(tracePath);
    UnpinThisThread();
  }

  const long hwm = console.PeakResidentKb();
  Row("peak resident memory (VmHWM)", Fmt("%.1f MB", static_cast<double>(hwm) / 1024.0), "—",
      "—", "info");
  ::unlink(imagePath);
  return failed ? 1 : 0;
}
