// Time as the board sees it: the pacing of the line and the board's deliberate
// silences (stall, reboot) go through this interface so tests can drive them.
#pragma once

#include <chrono>
#include <thread>

namespace boardsim {

using TClockTime = std::chrono::steady_clock::time_point;
using TNanos = std::chrono::nanoseconds;

class IClock {
 public:
  virtual ~IClock() = default;
  virtual TClockTime Now() = 0;
  virtual void SleepUntil(TClockTime t) = 0;
  void SleepFor(TNanos d) { SleepUntil(Now() + d); }
};

class TSystemClock final : public IClock {
 public:
  TClockTime Now() override { return std::chrono::steady_clock::now(); }
  void SleepUntil(TClockTime t) override { std::this_thread::sleep_until(t); }
};

}  // namespace boardsim
