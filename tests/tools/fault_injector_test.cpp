#include "tools/fault_injector.h"

#include <gtest/gtest.h>

#include <bit>
#include <numeric>

#include "link/packets.h"

namespace boardsim {
namespace {

std::vector<uint8_t> SealedBlock(uint8_t fill) {
  wire::TSectorBlock b{};
  std::fill(std::begin(b.Data), std::end(b.Data), fill);
  wire::SealPacket(&b, sizeof b);
  const auto* p = reinterpret_cast<const uint8_t*>(&b);
  return {p, p + sizeof b};
}

int BitsDiffering(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  int n = 0;
  for (size_t i = 0; i < a.size(); ++i) n += std::popcount(static_cast<unsigned>(a[i] ^ b[i]));
  return n;
}

TEST(FaultInjectorTest, OneBitModeFlipsExactlyOneBitPerPacketAndTheChecksumSeesIt) {
  TFaultConfig c;
  c.BitErrorRate = 1.0;  // every packet is hit
  c.OneBitPerPacket = true;
  c.Seed = 7;
  TFaultInjector f(c);
  for (int i = 0; i < 200; ++i) {
    const auto packet = SealedBlock(static_cast<uint8_t>(i));
    const auto sent = f.Outgoing(packet, true);
    ASSERT_EQ(sent.size(), packet.size());
    EXPECT_EQ(BitsDiffering(packet, sent), 1);
    EXPECT_NE(wire::PacketChecksum(sent.data(), sent.size()), 0);
  }
  EXPECT_EQ(f.Stats().BitsFlipped, 200u);
}

TEST(FaultInjectorTest, OneBitModeLeavesSingleBytesAlone) {
  TFaultConfig c;
  c.BitErrorRate = 1.0;
  c.OneBitPerPacket = true;
  TFaultInjector f(c);
  const std::vector<uint8_t> ack{wire::kAck};
  for (int i = 0; i < 50; ++i) EXPECT_EQ(f.Outgoing(ack, false), ack);
  uint8_t b = wire::kAck;
  EXPECT_TRUE(f.IncomingByte(b));
  EXPECT_EQ(b, wire::kAck);
}

TEST(FaultInjectorTest, OneBitModeOnIncomingPackets) {
  TFaultConfig c;
  c.BitErrorRate = 1.0;
  c.OneBitPerPacket = true;
  TFaultInjector f(c);
  auto packet = SealedBlock(0x11);
  const auto original = packet;
  f.IncomingPacket(packet);
  EXPECT_EQ(BitsDiffering(original, packet), 1);
}

TEST(FaultInjectorTest, FreeRunningRateIsRoughlyTheConfiguredOne) {
  TFaultConfig c;
  c.BitErrorRate = 0.01;
  c.Seed = 3;
  TFaultInjector f(c);
  const std::vector<uint8_t> zeros(100000, 0);
  const auto out = f.Outgoing(zeros, false);
  const int flipped = BitsDiffering(zeros, out);
  // 800000 bits at 1%: 8000 expected, the standard deviation is about 89.
  EXPECT_GT(flipped, 7500);
  EXPECT_LT(flipped, 8500);
  EXPECT_EQ(static_cast<uint64_t>(flipped), f.Stats().BitsFlipped);
}

TEST(FaultInjectorTest, ZeroRatesChangeNothing) {
  TFaultInjector f{TFaultConfig{}};
  const auto packet = SealedBlock(0x5A);
  EXPECT_EQ(f.Outgoing(packet, true), packet);
  uint8_t b = 0x77;
  EXPECT_TRUE(f.IncomingByte(b));
  EXPECT_EQ(b, 0x77);
}

TEST(FaultInjectorTest, DropRateOneLosesEveryByteBothWays) {
  TFaultConfig c;
  c.DropRate = 1.0;
  TFaultInjector f(c);
  EXPECT_TRUE(f.Outgoing(SealedBlock(1), true).empty());
  uint8_t b = 1;
  EXPECT_FALSE(f.IncomingByte(b));
  EXPECT_EQ(f.Stats().BytesDropped, 517u);
}

TEST(FaultInjectorTest, TheSameSeedRepeatsTheRun) {
  TFaultConfig c;
  c.BitErrorRate = 0.001;
  c.DropRate = 0.001;
  c.Seed = 42;
  TFaultInjector a(c), b(c);
  c.Seed = 43;
  TFaultInjector other(c);
  const std::vector<uint8_t> data(50000, 0x33);
  const auto ra = a.Outgoing(data, false);
  EXPECT_EQ(ra, b.Outgoing(data, false));
  EXPECT_NE(ra, other.Outgoing(data, false));
}

TEST(FaultInjectorTest, ScheduledFaultsComeOnTheirCounts) {
  TFaultConfig c;
  c.NakEvery = 3;
  c.StallEvery = 2;
  c.RebootInTransfer = 4;
  TFaultInjector f(c);
  std::vector<bool> naks, stalls, reboots;
  for (int i = 0; i < 7; ++i) {
    naks.push_back(f.NakThisPacket());
    stalls.push_back(f.StallThisRequest());
    reboots.push_back(f.RebootThisTransfer());
  }
  EXPECT_EQ(naks, (std::vector<bool>{false, false, true, false, false, true, false}));
  EXPECT_EQ(stalls, (std::vector<bool>{false, true, false, true, false, true, false}));
  EXPECT_EQ(reboots, (std::vector<bool>{false, false, false, true, false, false, false}));
  EXPECT_EQ(f.Stats().NaksInjected, 2u);
  EXPECT_EQ(f.Stats().Reboots, 1u);
}

TEST(FaultInjectorTest, NoiseHasTheAskedSize) {
  TFaultInjector f{TFaultConfig{}};
  const auto noise = f.Noise(TFaultInjector::kNoiseBurstBytes);
  EXPECT_EQ(noise.size(), 102400u);
  // Random bytes: far from all alike.
  const auto sum = std::accumulate(noise.begin(), noise.end(), uint64_t{0});
  EXPECT_GT(sum, 102400u * 100);
  EXPECT_LT(sum, 102400u * 155);
}

// The documented limit of the 8-bit additive checksum.
TEST(FaultInjectorTest, ChecksumMissesTwoCancellingFlips) {
  auto packet = SealedBlock(0x00);
  ASSERT_EQ(wire::PacketChecksum(packet.data(), packet.size()), 0);
  // Two 0->1 flips of bit 7 add 0x100: invisible modulo 256.
  auto bit7 = packet;
  bit7[100] ^= 0x80;
  bit7[200] ^= 0x80;
  EXPECT_EQ(wire::PacketChecksum(bit7.data(), bit7.size()), 0);
  // A 0->1 and a 1->0 flip of the same position cancel as well.
  auto cancel = packet;
  cancel[2] ^= 0x02;  // Length high byte 0x02 -> 0x00: bit 1 goes 1 -> 0
  cancel[50] ^= 0x02;  // a data byte 0x00 -> 0x02: bit 1 goes 0 -> 1
  EXPECT_EQ(wire::PacketChecksum(cancel.data(), cancel.size()), 0);
}

}  // namespace
}  // namespace boardsim
