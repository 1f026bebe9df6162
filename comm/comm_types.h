// Enumerations, sets and fixed tables of the serial port component.
#pragma once

#include <array>
#include <cstdint>

namespace comm {

enum TBaudRate : uint8_t {
  br110, br300, br600, br1200, br2400, br4800, br9600, br14400, br19200, br38400, br56000,
  br57600, br115200, br128000, br256000, br230400, br460800, br921600, brUSER
};
enum TParity : uint8_t { paNone, paOdd, paEven, paMark, paSpace };
enum TStopBits : uint8_t { sb10, sb15, sb20 };
enum TDataBits : uint8_t { da4, da5, da6, da7, da8 };
enum TFlowControl : uint8_t { fcNone, fcCTS, fcDTR, fcSoftware, fcDefault };
enum TCommOption : uint8_t { coParityCheck, coDsrSensitivity, coIgnoreXOff, coErrorChar, coNullStrip };
enum TCommEventType : uint8_t {
  evBreak, evCts, evDsr, evError, evRing, evRlsd, evRxChar, evRxFlag, evTxEmpty
};

// Sets: bit n stands for the value of ordinal n.
using TCommEventTypes = uint16_t;
using TCommOptions = uint8_t;

constexpr TCommEventTypes EventSetOf(TCommEventType e) { return static_cast<TCommEventTypes>(1u << e); }
constexpr TCommOptions OptionSetOf(TCommOption o) { return static_cast<TCommOptions>(1u << o); }
constexpr TCommEventTypes kAllCommEvents = 0x01FF;  // the nine event types

// Bit rate of each TBaudRate value; 0 means "take UserBaud".
inline constexpr std::array<uint32_t, 19> kBitRates = {
    110,   300,   600,    1200,   2400,   4800,   9600,   14400,  19200, 38400,
    56000, 57600, 115200, 128000, 256000, 230400, 460800, 921600, 0};

inline constexpr uint32_t BitRateOf(TBaudRate rate) {
  return rate < kBitRates.size() ? kBitRates[rate] : 0;
}

// Device event bits.
constexpr uint32_t EV_RXCHAR = 0x0001;
constexpr uint32_t EV_RXFLAG = 0x0002;
constexpr uint32_t EV_TXEMPTY = 0x0004;
constexpr uint32_t EV_CTS = 0x0008;
constexpr uint32_t EV_DSR = 0x0010;
constexpr uint32_t EV_RLSD = 0x0020;
constexpr uint32_t EV_BREAK = 0x0040;
constexpr uint32_t EV_ERR = 0x0080;
constexpr uint32_t EV_RING = 0x0100;
constexpr uint32_t kAllDeviceEvents = 0x01FF;

// Device event bit of each TCommEventType, by ordinal.
inline constexpr std::array<uint32_t, 9> kEventBits = {EV_BREAK, EV_CTS,    EV_DSR,
                                                       EV_ERR,   EV_RING,   EV_RLSD,
                                                       EV_RXCHAR, EV_RXFLAG, EV_TXEMPTY};

// The device mask of an event set: the sum of the bits of its members.
constexpr uint32_t DeviceMaskOf(TCommEventTypes events) {
  uint32_t mask = 0;
  for (unsigned i = 0; i < kEventBits.size(); ++i)
    if (events & (1u << i)) mask += kEventBits[i];
  return mask;
}

// Device error flags reported by ClearCommError and handed to OnError.
constexpr uint32_t CE_RXOVER = 0x0001;
constexpr uint32_t CE_OVERRUN = 0x0002;
constexpr uint32_t CE_RXPARITY = 0x0004;
constexpr uint32_t CE_FRAME = 0x0008;
constexpr uint32_t CE_BREAK = 0x0010;
// The device has gone (adapter unplugged, other side of the line hung up): the port stays
// "open" until Close, but no transfer through it succeeds any more.
constexpr uint32_t CE_DEVICE_LOST = 0x00010000;

// Purge flags.
constexpr uint32_t PURGE_TXABORT = 0x01;
constexpr uint32_t PURGE_RXABORT = 0x02;
constexpr uint32_t PURGE_TXCLEAR = 0x04;
constexpr uint32_t PURGE_RXCLEAR = 0x08;

// Line-control function codes.
constexpr int SETXOFF = 1;
constexpr int SETXON = 2;
constexpr int SETRTS = 3;
constexpr int CLRRTS = 4;
constexpr int SETDTR = 5;
constexpr int CLRDTR = 6;
constexpr int SETBREAK = 8;
constexpr int CLRBREAK = 9;

// Modem status bits.
constexpr uint32_t MS_CTS_ON = 0x10;
constexpr uint32_t MS_DSR_ON = 0x20;
constexpr uint32_t MS_RING_ON = 0x40;
constexpr uint32_t MS_RLSD_ON = 0x80;

// Modem-status bit asked for by GetModemState(n), by n (0 and above 4: none).
inline constexpr std::array<uint32_t, 5> kModemStateMasks = {0, MS_CTS_ON, MS_DSR_ON, MS_RING_ON,
                                                             MS_RLSD_ON};

constexpr uint32_t MAXDWORD = 0xFFFFFFFFu;

// Write time-out per byte in ms: 19200 divided by the ordinal of the rate setting (the
// first value, ordinal 0, counts as 1 so that the time-out stays bounded).
constexpr uint32_t WriteTotalTimeoutMultiplierOf(TBaudRate rate) {
  return 19200u / (rate == 0 ? 1u : static_cast<uint32_t>(rate));
}

}  // namespace comm
