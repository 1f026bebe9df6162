// The waits' message pump on Qt: sleeps in the event loop until something
// arrives, so the idle console uses no CPU.
#pragma once

#include "link/interfaces.h"

namespace app {

class TQtMessagePump : public wire::IMessagePump {
 public:
  void ProcessPending() override;
  void WaitForEvents() override;
};

}  // namespace app
