// The three wire packets exchanged with the board, byte for byte as they travel.
// All 16-bit fields are little-endian; the host is x86/ARM little-endian, so the
// packed records below are the wire image itself.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

static_assert(std::endian::native == std::endian::little,
              "the packet records are laid out for a little-endian host");

// The namespace is "wire": "link" would clash with POSIX link(2).
namespace wire {

inline constexpr uint8_t kPacketStart = 0x77;  // "w"
inline constexpr uint8_t kAck = 0x55;          // "U": checksum good, packet accepted
inline constexpr uint8_t kNak = 0xAA;          // checksum bad, send again
inline constexpr uint16_t kReadBadChecksum = 0xCC;

inline constexpr size_t kRequestSize = 13;
inline constexpr size_t kReplySize = 15;
inline constexpr size_t kBlockSize = 516;
inline constexpr size_t kBlockDataSize = 512;

// Flag bits of the reply's flags image.
inline constexpr uint16_t kFlagCarry = 0x0001;
inline constexpr uint16_t kFlagZero = 0x0040;

#pragma pack(push, 1)
// Board to host: one BIOS call with the board's registers.
struct TRequestPacket {
  uint8_t Start;
  uint16_t Length;  // not read by the host
  uint8_t Checksum;
  uint8_t Service;
  uint16_t AX;
  uint16_t BX;
  uint16_t CX;
  uint16_t DX;
};

// Host to board: the registers (and flags) to load on the board.
struct TReplyPacket {
  uint8_t Start;
  uint16_t Length;
  uint8_t Checksum;
  uint8_t Code;
  uint16_t AX;
  uint16_t BX;
  uint16_t CX;
  uint16_t DX;
  uint16_t Flags;
};

// Either direction: one 512-byte disk sector or one eighth of a screen upload.
struct TSectorBlock {
  uint8_t Start;
  uint16_t Length;
  uint8_t Checksum;
  uint8_t Data[kBlockDataSize];
};
#pragma pack(pop)

static_assert(sizeof(TRequestPacket) == kRequestSize);
static_assert(sizeof(TReplyPacket) == kReplySize);
static_assert(sizeof(TSectorBlock) == kBlockSize);

// The negation (mod 256) of the byte sum: a correct packet sums to 0.
uint8_t PacketChecksum(const void* bytes, size_t n);

// Sets Start, Length and the checksum of a packet of n bytes held in `bytes`.
void SealPacket(void* bytes, size_t n);

// Byte halves of a 16-bit register.
constexpr uint8_t Lo(uint16_t r) { return static_cast<uint8_t>(r & 0xFF); }
constexpr uint8_t Hi(uint16_t r) { return static_cast<uint8_t>(r >> 8); }
constexpr uint16_t MakeWord(uint8_t hi, uint8_t lo) {
  return static_cast<uint16_t>((hi << 8) | lo);
}
constexpr uint16_t WithHi(uint16_t r, uint8_t hi) { return MakeWord(hi, Lo(r)); }
constexpr uint16_t WithLo(uint16_t r, uint8_t lo) { return MakeWord(Hi(r), lo); }

}  // namespace wire
