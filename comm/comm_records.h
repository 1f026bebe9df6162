// The platform records the component exchanges with the device layer: line settings,
// queue status and time-outs.
#pragma once

#include <cstdint>

namespace comm {

// Device control block: the line settings as the device layer takes and reports them.
struct TDeviceControlBlock {
  uint32_t BaudRate = 9600;
  uint8_t Parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  uint8_t StopBits = 0;  // 0 one, 1 one and a half, 2 two
  uint8_t ByteSize = 8;
  char XonChar = 17;
  char XoffChar = 19;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;
  uint16_t XonLim = 0;
  uint16_t XoffLim = 0;
  bool fBinary = true;
  bool fParity = false;
  bool fOutxCtsFlow = false;
  bool fOutxDsrFlow = false;
  bool fDsrSensitivity = false;
  bool fTXContinueOnXoff = false;
  bool fOutX = false;
  bool fInX = false;
  bool fErrorChar = false;
  bool fNull = false;
  bool fAbortOnError = false;
};

// Queue status of the device.
struct TComStat {
  bool fCtsHold = false;
  bool fDsrHold = false;
  bool fRlsdHold = false;
  bool fXoffHold = false;
  bool fXoffSent = false;
  bool fEof = false;
  bool fTxim = false;
  uint32_t cbInQue = 0;
  uint32_t cbOutQue = 0;
};

// Time-outs of reads and writes, in milliseconds.
struct TCommTimeouts {
  uint32_t ReadIntervalTimeout = 0;
  uint32_t ReadTotalTimeoutMultiplier = 0;
  uint32_t ReadTotalTimeoutConstant = 0;
  uint32_t WriteTotalTimeoutMultiplier = 0;
  uint32_t WriteTotalTimeoutConstant = 0;
};

}  // namespace comm
