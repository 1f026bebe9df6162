// A scripted board for tests: the host's waits pull the next scripted action
// (bytes arriving, timer ticks, a button press); everything the host writes is
// recorded. No threads, no sleeps.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "link/interfaces.h"
#include "link/link.h"
#include "session/status_sink.h"

namespace testsupport {

using Bytes = std::vector<uint8_t>;

class TFakeBoard : public wire::ILinkPort, public wire::IMessagePump {
 public:
  void Attach(wire::TLink* link) { Link = link; }

  // Script: each action runs on one wait of the host, in order.
  TFakeBoard& Send(const Bytes& bytes);      // the bytes arrive in one receive event
  TFakeBoard& Ack() { return Send({wire::kAck}); }
  TFakeBoard& Nak() { return Send({wire::kNak}); }
  TFakeBoard& Tick(int n = 1);               // n timer ticks, each one wait
  TFakeBoard& Do(std::function<void()> action);
  // What happens when the script has run out: by default Disconnect is pressed.
  bool DisconnectWhenIdle = true;

  // ILinkPort
  int Read(void* buffer, uint32_t count) override;
  int Write(const void* buffer, uint32_t count) override;
  int InQueCount() override { return static_cast<int>(Pending.size()); }
  // IMessagePump
  void ProcessPending() override { ++PendingCalls; }
  void WaitForEvents() override;

  bool ScriptDone() const { return Script.empty(); }
  // Takes (and forgets) what the host has written so far.
  Bytes TakeWritten();

  Bytes Written;
  int WaitCalls = 0;
  int PendingCalls = 0;
  int TicksDelivered = 0;

 private:
  wire::TLink* Link = nullptr;
  std::deque<std::function<void()>> Script;
  std::deque<uint8_t> Pending;
};

// Records the status texts the loop shows.
class TStatusLog : public app::IStatusSink {
 public:
  void ShowStatus(const char* text) override { Texts.emplace_back(text); }
  std::vector<std::string> Texts;
};

// Packet builders, as the board would put them on the wire.
Bytes RequestBytes(uint8_t service, uint16_t ax, uint16_t bx = 0, uint16_t cx = 0,
                   uint16_t dx = 0);
Bytes BlockBytes(const uint8_t* data512);
Bytes BlockBytes(uint8_t fill);
// The 15 bytes of a reply as the host must send it.
Bytes ReplyBytes(uint8_t code, uint16_t ax, uint16_t bx, uint16_t cx, uint16_t dx,
                 uint16_t flags);
// Concatenation helper.
Bytes Cat(std::initializer_list<Bytes> parts);

}  // namespace testsupport
