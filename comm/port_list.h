// The serial ports this machine has, for the user to choose from: the stable
// /dev/serial/by-id names first (each with the tty it stands for), then the
// USB adapters (ttyUSB, ttyACM) and the built-in UARTs (ttyS) that answer as
// serial ports (most ttyS names exist whether or not a UART is behind them).
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace comm {

struct TPortEntry {
  std::string Path;         // what the port is opened by
  std::string Description;  // e.g. "ttyUSB0" for a by-id name; empty otherwise
  std::string Target;       // e.g. "/dev/ttyUSB0" for a by-id name; empty otherwise
};

// Whether a ttyS device has a UART behind it.
bool AnswersAsSerialPort(const std::string& path);

// The ports under `dev` (normally "/dev"); `isUart` decides for the ttyS ones.
std::vector<TPortEntry> ListSerialPorts(const std::string& dev = "/dev",
                                        const std::function<bool(const std::string&)>& isUart =
                                            AnswersAsSerialPort);

// One line of `consolew --list`, as `tio -l` shows ports: the path, and for a
// by-id name the device it stands for
// ("/dev/serial/by-id/usb-FTDI_...-port0 -> /dev/ttyUSB0").
std::string PortListLine(const TPortEntry& port);

}  // namespace comm
