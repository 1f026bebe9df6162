// The board's line on a serial device, through the serial component.
#pragma once

#include "comm/comm.h"
#include "session/board_port.h"

namespace app {

class TSerialPort : public IBoardPort {
 public:
  // `comm` is set up by the owner (settings, device names, synchronisation);
  // its hooks are taken over here.
  explicit TSerialPort(comm::TComm& comm);

  void Open(const std::string& device, TOpened opened) override;
  void Close() override { Comm.Close(); }
  bool Enabled() const override { return Comm.Enabled(); }
  bool Local() const override { return true; }
  void RaiseRts() override;

  int Read(void* buffer, uint32_t count) override { return Comm.Read(buffer, count); }
  int Write(const void* buffer, uint32_t count) override { return Comm.Write(buffer, count); }
  int InQueCount() override { return Comm.InQueCount(); }

 private:
  comm::TComm& Comm;
};

}  // namespace app
