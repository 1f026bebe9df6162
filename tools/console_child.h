// The console started as a child on a fresh pseudo-terminal: the board keeps
// the master side, the console opens the slave as its serial port.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace boardsim {

class TConsoleChild {
 public:
  // Creates the pty pair (slave in raw mode) and starts
  //   console --com1 SLAVE --connect [--image IMAGE] extra...
  // Returns nothing and sets `error` on failure.
  static std::unique_ptr<TConsoleChild> Start(const std::string& console,
                                              const std::string& image,
                                              const std::vector<std::string>& extra,
                                              std::string& error);
  ~TConsoleChild();
  TConsoleChild(const TConsoleChild&) = delete;
  TConsoleChild& operator=(const TConsoleChild&) = delete;

  int MasterFd() const { return Master; }
  const std::string& SlavePath() const { return Slave; }
  // False once the child has ended (its status is then in ExitStatus()).
  bool Alive();
  int ExitStatus() const { return Status; }

 private:
  TConsoleChild() = default;

  int Master = -1;
  int SlaveKeep = -1;  // held open so the master never sees a hang-up before the console opens it
  std::string Slave;
  pid_t Pid = -1;
  int Status = -1;
};

// The console binary beside the running executable.
std::string DefaultConsolePath();

// Opens a serial device for the board in raw mode (non-blocking); -1 on failure.
int OpenBoardDevice(const std::string& path, uint32_t bitsPerSecond, std::string& error);

}  // namespace boardsim
