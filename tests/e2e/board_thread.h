// The simulated board on a thread of the test process, at the master end of a
// fresh pseudo-terminal whose slave the console opens as its serial port.
// Each session runs one script of a fresh board application (a fresh boot)
// with its own fault settings; the pty stays for the whole test.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "tools/board_app.h"
#include "tools/board_link.h"

namespace e2e {

class TBoardThread {
 public:
  using TScript = std::function<int(boardsim::TBoardApp&)>;

  TBoardThread();
  ~TBoardThread();
  TBoardThread(const TBoardThread&) = delete;
  TBoardThread& operator=(const TBoardThread&) = delete;

  const std::string& SlavePath() const { return Slave; }

  // Starts a session; the previous one must have ended (Join).
  void Start(TScript script, const boardsim::TFaultConfig& faults = {},
             const boardsim::TLinkConfig& link = {}, uint32_t bitsPerSecond = 0);
  bool Done() const { return Finished.load(); }
  // Waits for the session's end and returns the script's status.
  int Join();
  // The host is gone: the board's next wait ends the session.
  void Stop() { StopRequested = true; }

  // Of the last session, complete once Done().
  std::string Results() const { return ResultText.str(); }
  std::string Log() const { return LogText.str(); }
  const boardsim::TLinkStats& LinkStats() const { return Link->Stats(); }
  const boardsim::TFaultStats& FaultStats() const { return Faults->Stats(); }
  boardsim::TBoardApp& App() { return *Application; }

 private:
  int Master = -1;
  int SlaveKeep = -1;  // keeps the line up while the console has the slave closed
  std::string Slave;
  boardsim::TSystemClock Clock;
  std::unique_ptr<boardsim::TPacer> Pacer;
  std::unique_ptr<boardsim::TFaultInjector> Faults;
  std::unique_ptr<boardsim::TBoardLink> Link;
  std::unique_ptr<boardsim::TBoardApp> Application;
  std::ostringstream ResultText, LogText;
  std::thread Worker;
  std::atomic<bool> Finished{true};
  std::atomic<bool> StopRequested{false};
  int Status = -1;
};

}  // namespace e2e
