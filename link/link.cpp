#include "link/link.h"

#include <cstring>

namespace wire {

void TLink::SendByte(uint8_t b) { (void)Port->Write(&b, 1); }

void TLink::WaitForByte() {
  for (;;) {
    // Disconnect frees the image and the track buffer that the exchange works
    // on: once it has been pressed no wait returns, not even with bytes that
    // arrived in the same turn of the message loop.
    if (AbortRequested != 0) LeaveWait(TAbortReason::Disconnect);
    // A port lost since the exchange began: nothing from before the loss is
    // completed with bytes from after it, even when the port is back by now.
    if (PortLost || ExchangeGeneration != LossGeneration) LeaveWait(TAbortReason::PortLost);
    if (Rx.RxHasData()) return;
    if (Watchdog <= 0) LeaveWait(TAbortReason::Watchdog);
    // Blocks in the window system until something happens (a byte, a tick, a click).
    if (Observer != nullptr) Observer->Idle();
    Pump->WaitForEvents();
  }
}

uint16_t TLink::ReadPacket(void* buffer, size_t n) {
  auto* p = static_cast<uint8_t*>(buffer);
  size_t i = 0;
  bool skipped = false;  // bytes were dropped before the 0x77 this packet starts on
  NoiseRun = 0;
  while (i < n) {
    WaitForByte();
    const uint8_t b = Rx.RxGetByte();
    if (i == 0 && b != kPacketStart) {  // resynchronise on the start byte
      skipped = true;
      ++NoiseRun;
      continue;
    }
    if (i == 0 && Observer != nullptr) ReportNoise();
    p[i++] = b;
  }
  // Observers hear of the packet once its answer is on the wire.
  if (PacketChecksum(p, n) != 0) {
    SendByte(kNak);
    if (Observer != nullptr) Observer->PacketReceived(p, n, TRxVerdict::BadChecksum, kNak);
    return kReadBadChecksum;
  }
  // A data block whose start byte was lost is framed on a 0x77 inside its data
  // and completed with the head of the board's resend: a rotation of the real
  // block, whose sum is 0 as well. Its length bytes are then data bytes. Only
  // a block framed after dropped bytes (or right after such a refusal, on the
  // same 0x77 of the resend) is judged by them: a cleanly framed block is
  // taken whatever its length bytes say, as some boards never fill them in.
  const bool inDoubt = n == kBlockSize && (skipped || FramingInDoubt);
  if (inDoubt && !(p[1] == (kBlockSize & 0xFF) && p[2] == (kBlockSize >> 8))) {
    // What is waiting is the rest of that resend; the board sends the whole
    // block again after the 0xAA, and the next block is judged the same way.
    const uint32_t discarded = Rx.Unread();
    Rx.DiscardUnread();
    FramingInDoubt = true;
    SendByte(kNak);
    if (Observer != nullptr) {
      Observer->PacketReceived(p, n, TRxVerdict::BadFraming, kNak);
      if (discarded != 0) Observer->UnreadDiscarded(discarded);
    }
    return kReadBadChecksum;
  }
  FramingInDoubt = false;
  SendByte(kAck);
  if (Observer != nullptr) Observer->PacketReceived(p, n, TRxVerdict::Good, kAck);
  return 0;
}

void TLink::LeaveWait(TAbortReason why) {
  if (Observer != nullptr) {
    ReportNoise();
    Observer->Aborted(why);
  }
  throw TAbortExchange{};
}

void TLink::ReportNoise() {
  if (NoiseRun == 0) return;
  Observer->NoiseSkipped(NoiseRun);
  NoiseRun = 0;
}

uint16_t TLink::SendPacket(const void* buffer, size_t n) { return SendTry(buffer, n, 1); }

uint16_t TLink::SendTry(const void* buffer, size_t n, int attempt) {
  (void)Port->Write(buffer, static_cast<uint32_t>(n));
  if (Observer != nullptr) Observer->PacketSent(static_cast<const uint8_t*>(buffer), n, attempt);
  WaitForByte();
  const uint8_t answer = Rx.RxGetByte();
  if (Observer != nullptr) Observer->AnswerReceived(answer);
  return answer == kAck ? 0 : 1;
}

uint16_t TLink::SendReply() {
  SealPacket(&Reply, kReplySize);
  uint16_t result = 1;
  for (int tries = 0; tries < kTries && result != 0; ++tries) result = SendTry(&Reply, kReplySize, tries + 1);
  if (result != 0 && Observer != nullptr) Observer->GaveUp(TGiveUp::ReplyRefused);
  return result;
}

bool TLink::ReceiveBlock() {
  Watchdog = kWatchdogTicks;
  for (int tries = 0; tries < kTries; ++tries) {
    if (ReadPacket(&Block, kBlockSize) == 0) return true;
  }
  if (Observer != nullptr) Observer->GaveUp(TGiveUp::BlockBad);
  return false;
}

bool TLink::SendBlock(const uint8_t* data) {
  Watchdog = kWatchdogTicks;
  std::memmove(Block.Data, data, kBlockDataSize);
  SealPacket(&Block, kBlockSize);
  for (int tries = 0; tries < kTries; ++tries) {
    if (SendTry(&Block, kBlockSize, tries + 1) == 0) return true;
  }
  if (Observer != nullptr) Observer->GaveUp(TGiveUp::BlockRefused);
  return false;
}

}  // namespace wire
