// A clock that only moves when the code under test sleeps.
#pragma once

#include <vector>

#include "tools/clock.h"

namespace boardsim_test {

class TFakeClock final : public boardsim::IClock {
 public:
  boardsim::TClockTime Now() override { return T; }
  void SleepUntil(boardsim::TClockTime t) override {
    Sleeps.push_back(t - T);
    if (t > T) T = t;
  }
  void Advance(boardsim::TNanos d) { T += d; }
  boardsim::TClockTime T{};
  std::vector<boardsim::TNanos> Sleeps;
};

}  // namespace boardsim_test
