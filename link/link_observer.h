// Who wants to know what happens on the wire: the link and the service loop
// report each event to an observer (the link statistics, the trace file). An
// observer only watches; it never changes a byte or the order of the exchange.
// Every method has an empty default, so an observer picks what it needs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wire {

// How a received packet was judged.
enum class TRxVerdict : uint8_t {
  Good,         // checksum good: answered 0x55
  BadChecksum,  // answered 0xAA
  BadFraming,   // a data block framed inside its own data (its length bytes are not 04 02): 0xAA
};

// An exchange given up after three tries.
enum class TGiveUp : uint8_t {
  Request,       // a request bad three times: dropped without dispatch
  ReplyRefused,  // a reply refused three times by the board
  BlockRefused,  // a data block refused three times by the board
  BlockBad,      // a data block from the board bad three times (its last try is kept)
};

// Why a wait left through the abort point.
enum class TAbortReason : uint8_t {
  Watchdog,    // the board was silent for 20 ticks
  Disconnect,  // Disconnect was pressed
  PortLost,    // the port went away (it is reopened when it comes back)
};

class ILinkObserver {
 public:
  virtual ~ILinkObserver() = default;
  // `count` bytes were dropped while looking for the 0x77 of a packet (reported
  // when the 0x77 is found, or when the wait gives up first).
  virtual void NoiseSkipped(uint32_t count) { (void)count; }
  // A packet of `n` bytes (13: a request, 516: a data block) was read and
  // answered: reported right after its acknowledgement byte went out.
  virtual void PacketReceived(const uint8_t* bytes, size_t n, TRxVerdict verdict, uint8_t answer) {
    (void)bytes;
    (void)n;
    (void)verdict;
    (void)answer;
  }
  // Unread bytes dropped after a refused block (the rest of the board's resend).
  virtual void UnreadDiscarded(uint32_t count) { (void)count; }
  // A packet of `n` bytes (15: a reply, 516: a data block) was written;
  // `attempt` counts from 1, above 1 it is a resend after a refusal.
  virtual void PacketSent(const uint8_t* bytes, size_t n, int attempt) {
    (void)bytes;
    (void)n;
    (void)attempt;
  }
  // The board's answer to the packet just sent: 0x55, or any other byte (a refusal).
  virtual void AnswerReceived(uint8_t answer) { (void)answer; }
  virtual void GaveUp(TGiveUp what) { (void)what; }
  virtual void Aborted(TAbortReason why) { (void)why; }
  // The host is about to wait for the board with nothing to read: the time
  // for slow work (writing a file) that would otherwise delay an answer.
  virtual void Idle() {}
};

}  // namespace wire
