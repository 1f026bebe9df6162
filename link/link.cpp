#include "link/link.h"

#include <cstring>

namespace wire {

void TLink::SendByte(uint8_t b) { (void)Port->Write(&b, 1); }

void TLink::WaitForByte() {
  for (;;) {
    // Disconnect frees the image and the track buffer that the exchange works
    // on: once it has been pressed no wait returns, not even with bytes that
    // arrived in the same turn of the message loop.
    if (AbortRequested != 0) throw TAbortExchange{};
    if (Rx.RxHasData()) return;
    if (Watchdog <= 0) throw TAbortExchange{};
    // Blocks in the window system until something happens (a byte, a tick, a click).
    Pump->WaitForEvents();
  }
}

uint16_t TLink::ReadPacket(void* buffer, size_t n) {
  auto* p = static_cast<uint8_t*>(buffer);
  size_t i = 0;
  while (i < n) {
    WaitForByte();
    const uint8_t b = Rx.RxGetByte();
    if (i == 0 && b != kPacketStart) continue;  // resynchronise on the start byte
    p[i++] = b;
  }
  // A data block also carries its length. When its start byte is lost, the
  // block is framed on a 0x77 inside the data and completed with the head of
  // the board's resend: a rotation of the real block, whose sum is always 0.
  // Its length bytes are then data bytes, which tells it apart.
  const bool framed = n != kBlockSize || (p[1] == (kBlockSize & 0xFF) && p[2] == (kBlockSize >> 8));
  if (framed && PacketChecksum(p, n) == 0) {
    SendByte(kAck);
    return 0;
  }
  SendByte(kNak);
  return kReadBadChecksum;
}

uint16_t TLink::SendPacket(const void* buffer, size_t n) {
  (void)Port->Write(buffer, static_cast<uint32_t>(n));
  WaitForByte();
  return Rx.RxGetByte() == kAck ? 0 : 1;
}

uint16_t TLink::SendReply() {
  SealPacket(&Reply, kReplySize);
  uint16_t result = 1;
  for (int tries = 0; tries < kTries && result != 0; ++tries) result = SendPacket(&Reply, kReplySize);
  return result;
}

bool TLink::ReceiveBlock() {
  Watchdog = kWatchdogTicks;
  for (int tries = 0; tries < kTries; ++tries) {
    if (ReadPacket(&Block, kBlockSize) == 0) return true;
  }
  return false;
}

bool TLink::SendBlock(const uint8_t* data) {
  Watchdog = kWatchdogTicks;
  std::memmove(Block.Data, data, kBlockDataSize);
  SealPacket(&Block, kBlockSize);
  for (int tries = 0; tries < kTries; ++tries) {
    if (SendPacket(&Block, kBlockSize) == 0) return true;
  }
  return false;
}

}  // namespace wire
