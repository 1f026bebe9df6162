// The line to the board as the session sees it, whatever carries it: a serial
// device through the serial component, or a network serial server. The link
// reads and writes through it (Read, Write, InQueCount); the session opens and
// closes it and hears of received characters, line events and a lost port.
// Every call and every event is on the window thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "link/interfaces.h"

namespace app {

class IBoardPort : public wire::ILinkPort {
 public:
  // Called once per Open: true when the port is open, else false with the
  // reason in words ("connection refused", "/dev/ttyUSB0: Permission denied").
  using TOpened = std::function<void(bool ok, const std::string& reason)>;

  // Opens `device`: a name the port understands (for the serial component
  // "COM1"/"COM2" or a path, for a network port "tcp://HOST:PORT"). `opened`
  // may run before Open returns; a port that takes its time never blocks the
  // window thread. Close before `opened` ran cancels it (it never runs then).
  virtual void Open(const std::string& device, TOpened opened) = 0;
  // Closes the port (and cancels an open in progress); nothing when closed.
  virtual void Close() = 0;
  virtual bool Enabled() const = 0;
  // A device on this machine (reopened as soon as it is back) rather than a
  // server on the network (reconnected with a back-off).
  virtual bool Local() const = 0;
  // Raises RTS where the line offers it; nothing otherwise.
  virtual void RaiseRts() = 0;
  // The far end's first words on the connection opened last, as text fit to
  // show (a server that accepts and closes at once says why: "Device open
  // failure: ..."); empty when it said nothing printable, or for a device.
  virtual std::string FirstWords() const { return {}; }

  // Bytes are waiting (the received-characters event).
  std::function<void(uint32_t count)> OnRxChar;
  // A line error, with the device's error flags (the serial component's
  // error event; comm::CE_* bits).
  std::function<void(int errors)> OnError;
  // A break was received (the serial component's break event).
  std::function<void()> OnBreak;
  // The open port went away (device unplugged, connection closed or reset);
  // it is closed by then. Delivered from the event loop, never from inside a
  // call into the port.
  std::function<void(const std::string& reason)> OnLost;
};

}  // namespace app
