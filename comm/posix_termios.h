// Line settings of a terminal device through termios (termios2 for arbitrary bit rates).
#pragma once

#include "comm/comm_records.h"

namespace comm {

// Puts the line into raw mode (no echo, no line editing, no character translation, no
// software flow control, receiver on, modem lines ignored for opening). False with errno set.
bool MakeLineRaw(int fd);

// The c_cflag bits for byte size, parity and stop bits of `dcb` (one and a half stop
// bits count as one here; WriteLineSettings refuses them).
uint32_t FramingFlags(const TDeviceControlBlock& dcb);

// Reads the device's settings into the fields of `dcb` that the device keeps (bit rate,
// parity, stop bits, byte size, the flow-control flags, the XON/XOFF/EOF characters,
// parity checking); the other fields are left as they are. False with errno set.
bool ReadLineSettings(int fd, TDeviceControlBlock& dcb);

// Writes `dcb` to the device. A combination the device cannot do (bit rate 0, one and a
// half stop bits, 4 data bits, mark/space parity the driver drops, a rate it cannot come
// near) fails with EINVAL and leaves the device as it was. False with errno set.
bool WriteLineSettings(int fd, const TDeviceControlBlock& dcb);

}  // namespace comm
