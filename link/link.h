// The link to the board: receive ring, the three persistent packets, the waits
// with their two exits (Disconnect and the watchdog), and the packet exchanges.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/interfaces.h"
#include "link/link_observer.h"
#include "link/packets.h"
#include "link/rx_ring.h"

namespace wire {

class TLink {
 public:
  static constexpr int32_t kWatchdogTicks = 20;  // 20 ticks of 100 ms per request or block
  static constexpr int kTries = 3;

  TLink(ILinkPort& port, IMessagePump& pump) : Port(&port), Pump(&pump) {}

  // The serial component's received-characters event.
  void CommRxChar(uint32_t Count) { Rx.CommRxChar(*Port, Count); }
  bool RxHasData() const { return Rx.RxHasData(); }
  uint8_t RxGetByte() { return Rx.RxGetByte(); }

  void SendByte(uint8_t b);

  // Waits until a byte is in the ring. Leaves by throwing TAbortExchange when
  // Disconnect was pressed, the watchdog ran out, or the port was lost since
  // the exchange began (even when it is back by now).
  void WaitForByte();

  // A request starts to arrive: the watchdog is set to 20, and the exchange
  // belongs to the port as it is now (see LossGeneration).
  void BeginExchange() {
    Watchdog = kWatchdogTicks;
    ExchangeGeneration = LossGeneration;
  }
  // The port went away: every wait gives up until it is back, the exchange in
  // progress for good, and what was not read is dropped.
  void Lost() {
    PortLost = true;
    ++LossGeneration;
    Rx.DiscardUnread();
  }
  // The port is open again: what came before is dropped; waits return bytes
  // again, but only to exchanges begun from now on.
  void Back() {
    Rx.DiscardUnread();
    PortLost = false;
  }

  // Reads one packet of n bytes (skipping anything before its 0x77) and answers
  // it: returns 0 after 0x55, 0xCC after 0xAA. The length bytes are not read,
  // except those of a data block framed after dropped bytes, which is refused
  // unless they are 04 02 (see FramingInDoubt).
  uint16_t ReadPacket(void* buffer, size_t n);
  // Sends n bytes and takes the board's answer: 0 for 0x55, 1 for anything else.
  uint16_t SendPacket(const void* buffer, size_t n);
  // Seals and sends the persistent reply, up to three times; 0 when accepted.
  uint16_t SendReply();

  // Reads a data block into Block (watchdog renewed, up to three tries); true
  // when one arrived with a good checksum. Block.Data holds the last try either way.
  bool ReceiveBlock();
  // Sends 512 bytes as a data block (watchdog renewed, up to three tries); true
  // when the board accepted it.
  bool SendBlock(const uint8_t* data);

  // One tick of the 100 ms timer: the watchdog counts down, never below 0.
  void TimerTick() {
    if (Watchdog > 0) --Watchdog;
  }

  IMessagePump& pump() { return *Pump; }

  TRxRing Rx;
  TRequestPacket Request{};
  TReplyPacket Reply{};
  TSectorBlock Block{};
  int32_t Watchdog = 0;
  uint8_t AbortRequested = 0;
  // The port went away: every wait gives up until it is back, so that nothing
  // from before the loss is completed with bytes from after it.
  bool PortLost = false;
  // Advanced by every Lost(). An exchange keeps the value it began with: a
  // wait whose exchange began before a loss gives up, whatever happened in
  // between (the port lost and back while a handler run from inside the wait
  // had a loop of its own, a modal dialog's, say).
  uint64_t LossGeneration = 0;
  uint64_t ExchangeGeneration = 0;
  // The last packet read was a data block refused as framed inside its own
  // data: the next block is judged by its length bytes too, even when it
  // starts cleanly. Cleared by the next packet accepted.
  bool FramingInDoubt = false;
  // Told of every event on the wire (statistics, trace); none when null.
  ILinkObserver* Observer = nullptr;

 private:
  // SendPacket as try number `attempt` (from 1) of the same packet.
  uint16_t SendTry(const void* buffer, size_t n, int attempt);
  // Reports the bytes skipped so far before a 0x77, if any.
  void ReportNoise();
  // Leaves a wait through the abort point, telling the observer why.
  [[noreturn]] void LeaveWait(TAbortReason why);

  ILinkPort* Port;
  IMessagePump* Pump;
  uint32_t NoiseRun = 0;  // bytes skipped before the 0x77 of the packet being read
};

}  // namespace wire
