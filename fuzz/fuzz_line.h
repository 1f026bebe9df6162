// The board and the window system as the fuzzer plays them: every wait of the
// host takes its next action from the input (bytes arriving in one receive
// event, well-formed packets, timer ticks, a watchdog run-out, keys); when the
// input is used up, Disconnect is pressed. No threads, no sleeps.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <vector>

#include "keyboard/keyboard.h"
#include "link/interfaces.h"
#include "link/link.h"

namespace fuzzing {

class TFuzzLine : public wire::ILinkPort, public wire::IMessagePump {
 public:
  TFuzzLine(FuzzedDataProvider& input, keyboard::TKeyboard& keys) : In(input), Keys(keys) {}
  void Attach(wire::TLink* link) { Link = link; }

  int Read(void* buffer, uint32_t count) override;
  int Write(const void*, uint32_t count) override { return static_cast<int>(count); }
  int InQueCount() override { return static_cast<int>(Pending.size() - Next); }
  void ProcessPending() override {}
  void WaitForEvents() override;

 private:
  void Arrive(const uint8_t* bytes, size_t n);
  void ArrivePacket(size_t size);

  FuzzedDataProvider& In;
  keyboard::TKeyboard& Keys;
  wire::TLink* Link = nullptr;
  std::vector<uint8_t> Pending;
  size_t Next = 0;
};

}  // namespace fuzzing
