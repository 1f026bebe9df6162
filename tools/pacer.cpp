#include "tools/pacer.h"

namespace boardsim {

TNanos TPacer::LineTime(uint64_t n) const {
  if (Bps == 0) return TNanos(0);
  // Exact: the time of a burst is computed from its byte count, not summed
  // per write, so rounding never accumulates.
  return TNanos(n * kBitsPerByte * 1'000'000'000ull / Bps);
}

void TPacer::Pace(size_t n) {
  if (Bps == 0 || n == 0) return;
  const TClockTime now = Clock->Now();
  if (now > LineFreeAt()) {  // idle since the last burst ended
    BurstStart = now;
    BurstBytes = 0;
  }
  BurstBytes += n;
  Clock->SleepUntil(LineFreeAt());
}

}  // namespace boardsim
