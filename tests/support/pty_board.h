// A board at the far end of a pseudo-terminal, driven from a thread of the test:
// it writes request bytes and reads what the console answers, with time-outs so
// that a broken console fails the test instead of hanging it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

class TPtyBoard {
 public:
  TPtyBoard();
  ~TPtyBoard();
  TPtyBoard(const TPtyBoard&) = delete;
  TPtyBoard& operator=(const TPtyBoard&) = delete;

  // The device path the console opens.
  const std::string& SlavePath() const { return Slave; }
  void Write(const std::vector<uint8_t>& bytes);
  // Reads exactly n bytes, or what came within the time-out.
  std::vector<uint8_t> Read(size_t n, int timeoutMs = 5000);
  // Closes the board's end (an unplugged cable).
  void Hangup();

 private:
  int Master = -1;
  std::string Slave;
};

}  // namespace testsupport
