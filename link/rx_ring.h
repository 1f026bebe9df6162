// The receive ring: every byte the serial port delivers is kept here until the
// link reads it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "link/interfaces.h"

namespace wire {

class TRxRing {
 public:
  static constexpr uint32_t kRingSize = 32768;
  static constexpr uint32_t kStageSize = 1024;
  // Most bytes taken in one receive event; the port announces the rest with its
  // next event, so a babbling line cannot hold the window thread forever.
  static constexpr uint32_t kMaxPerEvent = 65536;

  // The serial component's received-characters handler: drains the port into the ring.
  void CommRxChar(ILinkPort& port, uint32_t Count);

  // Stores one byte; a full ring drops it (counted in RxDropped) rather than
  // overwriting bytes not yet read.
  void Store(uint8_t b);

  bool RxHasData() const { return RxHead != RxTail; }
  // Next unread byte; only called when RxHasData().
  uint8_t RxGetByte();
  // Drops every byte not yet read.
  void DiscardUnread() { RxTail = RxHead; }
  // Unread bytes in the ring.
  uint32_t Unread() const { return (RxHead + kRingSize - RxTail) % kRingSize; }

  std::array<uint8_t, kRingSize> RxRing{};
  uint32_t RxHead = 0;  // next slot to write
  uint32_t RxTail = 0;  // next slot to read
  // Bytes stored since start, shown in the status label: a signed 32-bit
  // counter that goes on from INT32_MAX to INT32_MIN (and from -1 to 0).
  int32_t RxCount = 0;
  uint64_t RxDropped = 0;  // bytes lost to a full ring
  std::array<uint8_t, kStageSize> RxStage{};
};

}  // namespace wire
