// The platform records the component exchanges with the device layer: line settings,
// queue status and time-outs.
#pragma once

#include <cstdint>

namespace comm {

// Device control block: the line settings as the device layer takes and reports them.
//
// Written to the terminal (termios): the bit rate, byte size, parity, stop bits,
// parity checking (fParity), RTS/CTS flow control (fOutxCtsFlow), XON/XOFF flow
// control (fOutX, fInX) with XonChar and XoffChar, and EofChar (which a raw line
// does not act on). Linux has no counterpart for the rest: they are kept in the
// block (filled from the component's properties where it has one, and handed
// back by GetCommState) but never applied to the device:
//   - ErrorChar and fErrorChar: a byte received with a parity error is not
//     replaced by ErrorChar (with parity checking on, the driver hands it over as 0);
//   - EvtChar: no event character is watched for, so EV_RXFLAG is never raised
//     (OnRxFlag runs only if that bit is handed to HandleCommEvent directly);
//   - XonLim and XoffLim: the driver decides when it sends XOFF and XON;
//   - fDsrSensitivity: bytes are taken whatever the DSR line says;
//   - fTXContinueOnXoff: the driver's own rule for sending after an XOFF applies;
//   - fNull: NUL bytes are not stripped;
//   - fOutxDsrFlow and fAbortOnError: there is no DSR flow control, and an error
//     does not stop the transfers; fBinary: the line is always raw.
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
