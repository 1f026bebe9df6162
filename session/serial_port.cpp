#include "session/serial_port.h"

#include <exception>

namespace app {

TSerialPort::TSerialPort(comm::TComm& comm) : Comm(comm) {
  Comm.OnRxChar = [this](comm::TThreadComm*, uint32_t count) {
    if (OnRxChar) OnRxChar(count);
  };
  Comm.OnError = [this](comm::TThreadComm*, int errors) {
    // An unplugged adapter is reported once, as a device error.
    if ((static_cast<uint32_t>(errors) & comm::CE_DEVICE_LOST) != 0 && OnLost) {
      OnLost(Comm.DeviceNames().Resolve(Comm.DeviceName()) + ": the device has gone");
    }
    if (OnError) OnError(errors);
  };
  Comm.OnBreak = [this](comm::TThreadComm*) {
    if (OnBreak) OnBreak();
  };
}

void TSerialPort::Open(const std::string& device, TOpened opened) {
  Comm.SetDeviceName(device);
  try {
    Comm.Open();
  } catch (const std::exception& e) {
    opened(false, e.what());
    return;
  }
  // A device that cannot be opened leaves the component closed without an error.
  if (!Comm.Enabled()) {
    opened(false, Comm.LastOpenError().Text);
    return;
  }
  opened(true, std::string());
}

void TSerialPort::RaiseRts() {
  try {
    Comm.SetRTSState(true);
  } catch (const std::exception&) {
    // A port without modem lines (a pty, or one that went away) has no RTS to raise.
  }
}

}  // namespace app
