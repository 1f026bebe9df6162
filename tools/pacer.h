// Paces what the board writes to the speed of a real line: 8N1 costs 10 bits
// per byte, so 115200 bit/s carry 11520 bytes per second.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tools/clock.h"

namespace boardsim {

class TPacer {
 public:
  static constexpr uint32_t kBitsPerByte = 10;  // start bit, 8 data bits, stop bit

  // bitsPerSecond 0 means unpaced: Pace() never waits.
  TPacer(IClock& clock, uint32_t bitsPerSecond) : Clock(&clock), Bps(bitsPerSecond) {}

  // Books n bytes on the line and waits until the last of them would have
  // reached the other end. Bytes booked while the line is still busy queue
  // behind the earlier ones; after an idle gap the line starts afresh.
  void Pace(size_t n);

  // Time that n bytes occupy the line.
  TNanos LineTime(uint64_t n) const;

  bool Paced() const { return Bps != 0; }
  uint32_t BitsPerSecond() const { return Bps; }
  TClockTime LineFreeAt() const { return BurstStart + LineTime(BurstBytes); }

 private:
  IClock* Clock;
  uint32_t Bps;
  TClockTime BurstStart{};
  uint64_t BurstBytes = 0;
};

}  // namespace boardsim
