// What the link needs of the outside world: a serial port to move bytes and a
// message pump to wait in.
#pragma once

#include <cstdint>

namespace wire {

// The three port operations the link uses (the serial component provides them).
class ILinkPort {
 public:
  virtual ~ILinkPort() = default;
  // Reads up to `count` bytes already waiting; returns the number read, or -1 when closed.
  virtual int Read(void* buffer, uint32_t count) = 0;
  // Writes `count` bytes; returns the number written, or -1 when closed.
  virtual int Write(const void* buffer, uint32_t count) = 0;
  // Bytes waiting in the port's input queue, or -1 when closed.
  virtual int InQueCount() = 0;
};

// Where the waits hand control to the window system.
class IMessagePump {
 public:
  virtual ~IMessagePump() = default;
  // Handles the window messages that are pending now; never blocks.
  virtual void ProcessPending() = 0;
  // Blocks until at least one event (serial data, a timer tick, a click) has been
  // handled, so that an idle wait costs no CPU.
  virtual void WaitForEvents() = 0;
};

// Thrown by a wait that gives up (Disconnect pressed, or the watchdog ran out);
// caught at the top of the service loop, which abandons the exchange.
struct TAbortExchange {};

}  // namespace wire
