// A line that never delivers a byte and swallows what is written: for fuzz
// targets whose calls send nothing that needs an answer.
#pragma once

#include "link/interfaces.h"

namespace fuzzing {

class TSilentLine : public wire::ILinkPort, public wire::IMessagePump {
 public:
  int Read(void*, uint32_t) override { return 0; }
  int Write(const void*, uint32_t count) override { return static_cast<int>(count); }
  int InQueCount() override { return 0; }
  void ProcessPending() override {}
  void WaitForEvents() override {}
};

}  // namespace fuzzing
