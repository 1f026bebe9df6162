#include <gtest/gtest.h>

#include <cstring>

#include "link/packets.h"

namespace {

TEST(PacketChecksum, NegatesTheByteSum) {
  const char abc[] = "abc";
  EXPECT_EQ(wire::PacketChecksum(abc, 3), 0xDA);
}

TEST(PacketChecksum, OfEmptyInputIsZero) { EXPECT_EQ(wire::PacketChecksum("", 0), 0); }

TEST(PacketChecksum, HandshakeRequestWithZeroRegisters) {
  wire::TRequestPacket r{};
  r.Service = 0x0B;
  wire::SealPacket(&r, sizeof r);
  EXPECT_EQ(r.Checksum, 0x71);
  EXPECT_EQ(wire::PacketChecksum(&r, sizeof r), 0);
}

TEST(PacketChecksum, ReplyWithAllFieldsZero) {
  wire::TReplyPacket r{};
  wire::SealPacket(&r, sizeof r);
  EXPECT_EQ(r.Checksum, 0x7A);
}

TEST(PacketLayout, RequestFieldsAreLittleEndianAtTheirOffsets) {
  const uint8_t wire[13] = {0x77, 0x0D, 0x00, 0x00, 0x10, 0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A, 0xF0, 0xDE};
  wire::TRequestPacket r{};
  std::memcpy(&r, wire, sizeof wire);
  EXPECT_EQ(r.Service, 0x10);
  EXPECT_EQ(uint16_t{r.AX}, 0x1234);
  EXPECT_EQ(uint16_t{r.BX}, 0x5678);
  EXPECT_EQ(uint16_t{r.CX}, 0x9ABC);
  EXPECT_EQ(uint16_t{r.DX}, 0xDEF0);
  EXPECT_EQ(wire::Hi(r.AX), 0x12);
  EXPECT_EQ(wire::Lo(r.AX), 0x34);
}

TEST(PacketLayout, ReplyBytesOnTheWire) {
  wire::TReplyPacket r{};
  r.Code = 10;
  r.AX = 0x0102;
  r.Flags = 0x0041;
  wire::SealPacket(&r, sizeof r);
  const auto* p = reinterpret_cast<const uint8_t*>(&r);
  EXPECT_EQ(p[0], 0x77);
  EXPECT_EQ(p[1], 15);
  EXPECT_EQ(p[2], 0);
  EXPECT_EQ(p[4], 10);
  EXPECT_EQ(p[5], 0x02);
  EXPECT_EQ(p[6], 0x01);
  EXPECT_EQ(p[13], 0x41);
  EXPECT_EQ(p[14], 0x00);
  EXPECT_EQ(wire::PacketChecksum(p, 15), 0);
}

TEST(PacketLayout, BlockLengthIs516) {
  wire::TSectorBlock b{};
  wire::SealPacket(&b, sizeof b);
  const auto* p = reinterpret_cast<const uint8_t*>(&b);
  EXPECT_EQ(p[1], 0x04);
  EXPECT_EQ(p[2], 0x02);
  EXPECT_EQ(wire::PacketChecksum(p, sizeof b), 0);
}

TEST(RegisterHalves, ReplaceOneByteOnly) {
  EXPECT_EQ(wire::WithHi(0x1234, 0xAB), 0xAB34);
  EXPECT_EQ(wire::WithLo(0x1234, 0xAB), 0x12AB);
  EXPECT_EQ(wire::MakeWord(0x7F, 0x00), 0x7F00);
}

}  // namespace
