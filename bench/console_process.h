// The console program started on a fresh pseudo-terminal, with what the
// benchmarks read of it from /proc.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

class TConsoleProcess {
 public:
  // Starts `console --com1 SLAVE --connect --image IMAGE` on the offscreen platform.
  TConsoleProcess(const std::string& console, const std::string& image);
  // The same with `extra` options and, when `terminal` names a pty slave, that
  // pty as its standard input and output (for --terminal). With `port` the
  // console's COM1 is that (a network port, say) and no pty is made.
  TConsoleProcess(const std::string& console, const std::string& image,
                  const std::vector<std::string>& extra, const std::string& terminal,
                  const std::string& port = {});
  ~TConsoleProcess();
  TConsoleProcess(const TConsoleProcess&) = delete;
  TConsoleProcess& operator=(const TConsoleProcess&) = delete;

  bool Started() const { return Pid > 0; }
  int MasterFd() const { return Master; }
  pid_t ProcessId() const { return Pid; }
  // CPU time used so far (user + system, all threads), seconds.
  double CpuSeconds() const;
  // Peak resident set (VmHWM), kB; -1 when unreadable.
  long PeakResidentKb() const;
  // Resident set now (VmRSS), kB; -1 when unreadable.
  long ResidentKb() const;

 private:
  int Master = -1;
  int SlaveKeep = -1;
  pid_t Pid = -1;
};

}  // namespace bench
