// Faults that the simulated board puts on the line, each switched on by its own
// setting, all drawn from one seeded generator so that a run can be repeated.
//
// Limit of what the line can detect: the packets carry an 8-bit additive
// checksum. It catches every single-bit error in a packet, but not every
// multi-bit pattern: two flips of the same bit position in opposite directions
// (0->1 in one byte, 1->0 in another) cancel, and so do two 0->1 flips of bit 7
// (together they add 0x100, which is 0 modulo 256). The one-bit-per-packet mode
// exists so that every corrupted packet is one the checksum is sure to reject.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <span>
#include <vector>

namespace boardsim {

struct TFaultConfig {
  double BitErrorRate = 0.0;     // per bit, both directions
  bool OneBitPerPacket = false;  // at most one flipped bit per packet, none outside packets
  double DropRate = 0.0;         // per byte, both directions
  unsigned NakEvery = 0;         // NAK every Nth good packet from the host (0: never)
  unsigned StallEvery = 0;       // stall halfway through every Nth request (0: never)
  unsigned RebootInTransfer = 0; // reboot in the middle of the Nth disk transfer (0: never)
  bool NoiseBurst = false;       // one 100 KB burst of noise after the first handshake
  uint64_t Seed = 1;

  bool Any() const {
    return BitErrorRate > 0 || DropRate > 0 || NakEvery || StallEvery || RebootInTransfer ||
           NoiseBurst;
  }
};

struct TFaultStats {
  uint64_t BitsFlipped = 0;
  uint64_t BytesDropped = 0;
  uint64_t NaksInjected = 0;
  uint64_t Stalls = 0;
  uint64_t Reboots = 0;
  uint64_t NoiseBytes = 0;
};

class TFaultInjector {
 public:
  static constexpr size_t kNoiseBurstBytes = 100 * 1024;

  explicit TFaultInjector(const TFaultConfig& config = {});

  const TFaultConfig& Config() const { return Cfg; }
  const TFaultStats& Stats() const { return Counters; }

  // Bytes the board is about to write. `isPacket` marks a checksummed packet
  // (request or block); single acknowledgement bytes and noise are not packets.
  // Returns what actually goes on the line (flipped bits, dropped bytes).
  std::vector<uint8_t> Outgoing(std::span<const uint8_t> bytes, bool isPacket);

  // One byte as it comes off the line: false when the line lost it. In the
  // free-running mode its bits may be flipped here.
  bool IncomingByte(uint8_t& b);
  // A whole packet the board has framed from the host's bytes; in the
  // one-bit-per-packet mode at most one of its bits is flipped here.
  void IncomingPacket(std::span<uint8_t> packet);

  // Counters of the scheduled faults; each call counts one event.
  bool NakThisPacket();      // one good packet from the host
  bool StallThisRequest();   // one request about to be sent
  bool RebootThisTransfer(); // one disk transfer about to start

  std::vector<uint8_t> Noise(size_t n);

 private:
  // Free-running bit errors: the distance to the next flipped bit is drawn
  // from a geometric distribution, separately for each direction.
  struct TStream {
    uint64_t BitsToFlip = 0;   // bits left before the next flip
    uint64_t BytesToDrop = 0;  // bytes left before the next drop
  };
  void FlipBits(TStream& s, uint8_t& b);
  bool DropByte(TStream& s);
  void FlipOneBit(std::span<uint8_t> packet);
  uint64_t NextGap(double rate);

  TFaultConfig Cfg;
  TFaultStats Counters;
  std::mt19937_64 Rng;
  TStream Out, In;
  uint64_t GoodPackets = 0, Requests = 0, Transfers = 0;
};

}  // namespace boardsim
