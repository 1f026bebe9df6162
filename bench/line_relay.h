// A serial line at a fixed bit rate between two descriptors: every byte takes
// 10 bit times in its direction (8N1), both directions independently, as on a
// real cable. Bytes reach the far end in small bursts (about 1 ms of bytes, or
// the end of what was sent) as a UART's receive FIFO would hand them over.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

namespace bench {

class TLineRelay {
 public:
  TLineRelay(int a, int b, uint32_t bitsPerSecond);
  ~TLineRelay();
  TLineRelay(const TLineRelay&) = delete;
  TLineRelay& operator=(const TLineRelay&) = delete;

 private:
  void Run();
  int A;
  int B;
  uint32_t Bps;
  std::atomic<bool> Stop{false};
  std::thread Worker;
};

}  // namespace bench
