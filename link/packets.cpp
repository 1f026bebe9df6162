#include "link/packets.h"

#include <cstring>

namespace wire {

uint8_t PacketChecksum(const void* bytes, size_t n) {
  const auto* p = static_cast<const uint8_t*>(bytes);
  uint8_t sum = 0;
  for (size_t i = 0; i < n; ++i) sum = static_cast<uint8_t>(sum + p[i]);
  return static_cast<uint8_t>(-sum);
}

void SealPacket(void* bytes, size_t n) {
  auto* p = static_cast<uint8_t*>(bytes);
  p[0] = kPacketStart;
  p[1] = static_cast<uint8_t>(n & 0xFF);
  p[2] = static_cast<uint8_t>(n >> 8);
  p[3] = 0;
  p[3] = PacketChecksum(p, n);
}

}  // namespace wire
