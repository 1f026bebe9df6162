#include "link/rx_ring.h"

#include <algorithm>

namespace wire {

void TRxRing::Store(uint8_t b) {
  const uint32_t next = (RxHead + 1) % kRingSize;
  if (next == RxTail) {
    ++RxDropped;
    return;
  }
  RxRing[RxHead] = b;
  RxHead = next;
  // Counted in unsigned arithmetic: after 2^31 bytes the counter wraps like a
  // 32-bit two's-complement register instead of overflowing.
  RxCount = static_cast<int32_t>(static_cast<uint32_t>(RxCount) + 1U);
}

void TRxRing::CommRxChar(ILinkPort& port, uint32_t Count) {
  uint32_t taken = 0;
  while (Count > 0 && taken < kMaxPerEvent) {
    const uint32_t want = std::min(Count, kStageSize);
    const int got = port.Read(RxStage.data(), want);
    if (got <= 0) return;  // closed or nothing there after all
    for (int i = 0; i < got; ++i) Store(RxStage[static_cast<size_t>(i)]);
    taken += static_cast<uint32_t>(got);
    const int waiting = port.InQueCount();
    Count = waiting > 0 ? static_cast<uint32_t>(waiting) : 0;
  }
}

uint8_t TRxRing::RxGetByte() {
  const uint8_t b = RxRing[RxTail];
  RxTail = (RxTail + 1) % kRingSize;
  return b;
}

}  // namespace wire
