#include "tools/fault_injector.h"

#include <cmath>
#include <limits>

namespace boardsim {

TFaultInjector::TFaultInjector(const TFaultConfig& config) : Cfg(config), Rng(config.Seed) {
  Out.BitsToFlip = NextGap(Cfg.BitErrorRate);
  Out.BytesToDrop = NextGap(Cfg.DropRate);
  In.BitsToFlip = NextGap(Cfg.BitErrorRate);
  In.BytesToDrop = NextGap(Cfg.DropRate);
}

uint64_t TFaultInjector::NextGap(double rate) {
  if (!(rate > 0)) return std::numeric_limits<uint64_t>::max();
  if (rate >= 1) return 0;
  std::geometric_distribution<uint64_t> gap(rate);
  return gap(Rng);
}

void TFaultInjector::FlipBits(TStream& s, uint8_t& b) {
  if (!(Cfg.BitErrorRate > 0)) return;
  for (unsigned bit = 0; bit < 8; ++bit) {
    if (s.BitsToFlip == 0) {
      b = static_cast<uint8_t>(b ^ (1u << bit));
      ++Counters.BitsFlipped;
      s.BitsToFlip = NextGap(Cfg.BitErrorRate);
    } else {
      --s.BitsToFlip;
    }
  }
}

bool TFaultInjector::DropByte(TStream& s) {
  if (!(Cfg.DropRate > 0)) return false;
  if (s.BytesToDrop == 0) {
    ++Counters.BytesDropped;
    s.BytesToDrop = NextGap(Cfg.DropRate);
    return true;
  }
  --s.BytesToDrop;
  return false;
}

void TFaultInjector::FlipOneBit(std::span<uint8_t> packet) {
  if (!(Cfg.BitErrorRate > 0) || packet.empty()) return;
  // Chance that a packet of this size would have taken at least one error.
  const double bits = static_cast<double>(packet.size()) * 8.0;
  const double p = Cfg.BitErrorRate >= 1 ? 1.0 : 1.0 - std::pow(1.0 - Cfg.BitErrorRate, bits);
  std::bernoulli_distribution hit(p);
  if (!hit(Rng)) return;
  std::uniform_int_distribution<size_t> where(0, packet.size() * 8 - 1);
  const size_t bit = where(Rng);
  packet[bit / 8] = static_cast<uint8_t>(packet[bit / 8] ^ (1u << (bit % 8)));
  ++Counters.BitsFlipped;
}

std::vector<uint8_t> TFaultInjector::Outgoing(std::span<const uint8_t> bytes, bool isPacket) {
  std::vector<uint8_t> copy(bytes.begin(), bytes.end());
  if (Cfg.OneBitPerPacket) {
    if (isPacket) FlipOneBit(copy);
  } else {
    for (auto& b : copy) FlipBits(Out, b);
  }
  if (Cfg.DropRate > 0) {
    std::vector<uint8_t> kept;
    kept.reserve(copy.size());
    for (uint8_t b : copy)
      if (!DropByte(Out)) kept.push_back(b);
    return kept;
  }
  return copy;
}

bool TFaultInjector::IncomingByte(uint8_t& b) {
  if (DropByte(In)) return false;
  if (!Cfg.OneBitPerPacket) FlipBits(In, b);
  return true;
}

void TFaultInjector::IncomingPacket(std::span<uint8_t> packet) {
  if (Cfg.OneBitPerPacket) FlipOneBit(packet);
}

bool TFaultInjector::NakThisPacket() {
  if (Cfg.NakEvery == 0) return false;
  if (++GoodPackets % Cfg.NakEvery != 0) return false;
  ++Counters.NaksInjected;
  return true;
}

bool TFaultInjector::StallThisRequest() {
  if (Cfg.StallEvery == 0) return false;
  if (++Requests % Cfg.StallEvery != 0) return false;
  ++Counters.Stalls;
  return true;
}

bool TFaultInjector::RebootThisTransfer() {
  if (Cfg.RebootInTransfer == 0) return false;
  if (++Transfers != Cfg.RebootInTransfer) return false;
  ++Counters.Reboots;
  return true;
}

std::vector<uint8_t> TFaultInjector::Noise(size_t n) {
  std::vector<uint8_t> noise(n);
  std::uniform_int_distribution<unsigned> byte(0, 255);
  for (auto& b : noise) b = static_cast<uint8_t>(byte(Rng));
  Counters.NoiseBytes += n;
  return noise;
}

}  // namespace boardsim
