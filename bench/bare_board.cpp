#include "bench/bare_board.h"

#include <chrono>
#include <cstring>

#include "bench/fd_io.h"

namespace bench {

namespace {

constexpr uint8_t kServiceHandshake = 0x0B;
constexpr uint8_t kServiceVideo = 0x10;
constexpr uint8_t kServiceDisk = 0x13;
constexpr uint8_t kServiceKeyboard = 0x16;

}  // namespace

bool TBareBoard::Request(uint8_t service, uint16_t ax, uint16_t bx, uint16_t cx, uint16_t dx,
                         int timeoutMs) {
  wire::TRequestPacket r{};
  r.Start = wire::kPacketStart;
  r.Length = wire::kRequestSize;
  r.Service = service;
  r.AX = ax;
  r.BX = bx;
  r.CX = cx;
  r.DX = dx;
  wire::SealPacket(&r, wire::kRequestSize);
  uint8_t ack = 0;
  return WriteAll(Fd, &r, wire::kRequestSize) && ReadExact(Fd, &ack, 1, timeoutMs) &&
         ack == wire::kAck;
}

bool TBareBoard::Reply(wire::TReplyPacket& reply) {
  if (!ReadExact(Fd, &reply, wire::kReplySize)) return false;
  const bool good = wire::PacketChecksum(&reply, wire::kReplySize) == 0;
  const uint8_t answer = good ? wire::kAck : wire::kNak;
  return WriteAll(Fd, &answer, 1) && good;
}

bool TBareBoard::Handshake(int seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    wire::TReplyPacket reply{};
    if (Request(kServiceHandshake, 0x4E56, 1, 0, 0x0101, 300) && Reply(reply)) {
      // Answers to earlier, unanswered tries may still trickle in.
      Drain(Fd, 300);
      return true;
    }
    Drain(Fd, 200);
  }
  return false;
}

bool TBareBoard::CheckKey() {
  wire::TReplyPacket reply{};
  return Request(kServiceKeyboard, 0x0100, 0, 0, 0) && Reply(reply);
}

bool TBareBoard::ReadKey() {
  wire::TReplyPacket reply{};
  return Request(kServiceKeyboard, 0x0000, 0, 0, 0) && Reply(reply);
}

bool TBareBoard::Video(uint16_t ax, uint16_t bx, uint16_t cx, uint16_t dx) {
  return Request(kServiceVideo, ax, bx, cx, dx);
}

bool TBareBoard::ReadTrack(uint32_t track, uint8_t* out) {
  const auto cyl = static_cast<uint16_t>(track / kHeads);
  const auto head = static_cast<uint16_t>(track % kHeads);
  wire::TReplyPacket reply{};
  if (!Request(kServiceDisk, 0x0200 | kSectorsPerTrack, 0, static_cast<uint16_t>(cyl << 8 | 1),
               static_cast<uint16_t>(head << 8)) ||
      !Reply(reply))
    return false;
  if ((reply.AX >> 8) != 0 || (reply.Flags & wire::kFlagCarry) != 0) return false;
  for (uint8_t s = 0; s < kSectorsPerTrack; ++s) {
    wire::TSectorBlock block{};
    if (!ReadExact(Fd, &block, wire::kBlockSize)) return false;
    const bool good = wire::PacketChecksum(&block, wire::kBlockSize) == 0;
    const uint8_t answer = good ? wire::kAck : wire::kNak;
    if (!WriteAll(Fd, &answer, 1) || !good) return false;
    std::memcpy(out + size_t{s} * wire::kBlockDataSize, block.Data, wire::kBlockDataSize);
  }
  return true;
}

bool TBareHost::Read(void* buffer, size_t n) { return ReadExact(Fd, buffer, n, 5000, QuickAck); }

bool TBareHost::AckedWrite(const void* bytes, size_t n) {
  uint8_t ack = 0;
  return WriteAll(Fd, bytes, n) && Read(&ack, 1) && ack == wire::kAck;
}

bool TBareHost::ServeCheckKeys(size_t count) {
  wire::TReplyPacket reply{};
  reply.Code = 10;
  reply.Flags = wire::kFlagZero;
  wire::SealPacket(&reply, wire::kReplySize);
  for (size_t i = 0; i < count; ++i) {
    wire::TRequestPacket request{};
    if (!Read(&request, wire::kRequestSize)) return false;
    const uint8_t ack = wire::kAck;
    if (!WriteAll(Fd, &ack, 1) || !AckedWrite(&reply, wire::kReplySize)) return false;
  }
  return true;
}

bool TBareHost::ServeTracks(uint32_t tracks) {
  for (uint32_t t = 0; t < tracks; ++t) {
    wire::TRequestPacket request{};
    if (!Read(&request, wire::kRequestSize)) return false;
    const uint8_t ack = wire::kAck;
    wire::TReplyPacket reply{};
    reply.AX = kSectorsPerTrack;
    wire::SealPacket(&reply, wire::kReplySize);
    if (!WriteAll(Fd, &ack, 1) || !AckedWrite(&reply, wire::kReplySize)) return false;
    for (uint8_t s = 0; s < kSectorsPerTrack; ++s) {
      wire::TSectorBlock block{};
      std::memcpy(block.Data, Image + t * kTrackBytes + size_t{s} * wire::kBlockDataSize,
                  wire::kBlockDataSize);
      wire::SealPacket(&block, wire::kBlockSize);
      if (!AckedWrite(&block, wire::kBlockSize)) return false;
    }
  }
  return true;
}

}  // namespace bench
