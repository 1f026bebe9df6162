#include "comm/posix_termios.h"

// termios2 comes from the kernel headers; glibc's <termios.h> must stay out of this file.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>

namespace comm {

namespace {

struct TSpeedCode {
  speed_t code;
  uint32_t rate;
};

// Standard speed codes; other rates go through BOTHER.
constexpr std::array<TSpeedCode, 30> kSpeedCodes = {{
    {B50, 50},           {B75, 75},           {B110, 110},         {B134, 134},
    {B150, 150},         {B200, 200},         {B300, 300},         {B600, 600},
    {B1200, 1200},       {B1800, 1800},       {B2400, 2400},       {B4800, 4800},
    {B9600, 9600},       {B19200, 19200},     {B38400, 38400},     {B57600, 57600},
    {B115200, 115200},   {B230400, 230400},   {B460800, 460800},   {B500000, 500000},
    {B576000, 576000},   {B921600, 921600},   {B1000000, 1000000}, {B1152000, 1152000},
    {B1500000, 1500000}, {B2000000, 2000000}, {B2500000, 2500000}, {B3000000, 3000000},
    {B3500000, 3500000}, {B4000000, 4000000},
}};

// Character size flags by byte size 5..8.
constexpr std::array<tcflag_t, 4> kSizeFlags = {CS5, CS6, CS7, CS8};

// Parity flags by parity code 0..4.
constexpr std::array<tcflag_t, 5> kParityFlags = {
    0, PARENB | PARODD, PARENB, PARENB | PARODD | CMSPAR, PARENB | CMSPAR};

constexpr tcflag_t kParityMask = PARENB | PARODD | CMSPAR;

bool Get(int fd, termios2& t) { return ioctl(fd, TCGETS2, &t) == 0; }
bool Set(int fd, const termios2& t) { return ioctl(fd, TCSETS2, &t) == 0; }

uint32_t RateOf(const termios2& t) {
  const speed_t code = t.c_cflag & CBAUD;
  if (code == BOTHER) return t.c_ospeed;
  for (const auto& s : kSpeedCodes)
    if (s.code == code) return s.rate;
  return 0;
}

void SetRate(termios2& t, uint32_t rate) {
  t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  speed_t code = BOTHER;
  for (const auto& s : kSpeedCodes)
    if (s.rate == rate) code = s.code;
  t.c_cflag |= code;
  t.c_ispeed = rate;
  t.c_ospeed = rate;
}

bool RateClose(uint32_t wanted, uint32_t got) {
  // Drivers may round an arbitrary rate to what their clock divides to.
  return std::llabs(static_cast<long long>(wanted) - static_cast<long long>(got)) * 100 <=
         static_cast<long long>(wanted) * 3;
}

}  // namespace

uint32_t FramingFlags(const TDeviceControlBlock& dcb) {
  uint32_t flags = kSizeFlags[std::clamp<uint8_t>(dcb.ByteSize, 5, 8) - 5];
  if (dcb.Parity < kParityFlags.size()) flags |= kParityFlags[dcb.Parity];
  if (dcb.StopBits == 2) flags |= CSTOPB;
  return flags;
}

bool MakeLineRaw(int fd) {
  termios2 t{};
  if (!Get(fd, t)) return false;
  t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY |
                 IUCLC | IMAXBEL);
  t.c_oflag &= ~OPOST;
  t.c_lflag &= ~(ECHO | ECHONL | ECHOE | ECHOK | ICANON | ISIG | IEXTEN);
  t.c_cflag |= CREAD | CLOCAL;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  return Set(fd, t);
}

bool ReadLineSettings(int fd, TDeviceControlBlock& dcb) {
  termios2 t{};
  if (!Get(fd, t)) return false;
  dcb.BaudRate = RateOf(t);
  dcb.ByteSize = 8;
  for (unsigned i = 0; i < kSizeFlags.size(); ++i)
    if ((t.c_cflag & CSIZE) == kSizeFlags[i]) dcb.ByteSize = static_cast<uint8_t>(5 + i);
  dcb.Parity = 0;
  for (unsigned i = 0; i < kParityFlags.size(); ++i)
    if ((t.c_cflag & kParityMask) == kParityFlags[i]) dcb.Parity = static_cast<uint8_t>(i);
  dcb.StopBits = (t.c_cflag & CSTOPB) ? 2 : 0;
  dcb.fOutxCtsFlow = (t.c_cflag & CRTSCTS) != 0;
  dcb.fOutX = (t.c_iflag & IXON) != 0;
  dcb.fInX = (t.c_iflag & IXOFF) != 0;
  dcb.fParity = (t.c_iflag & INPCK) != 0;
  dcb.XonChar = static_cast<char>(t.c_cc[VSTART]);
  dcb.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
  dcb.EofChar = static_cast<char>(t.c_cc[VEOF]);
  dcb.fBinary = true;
  return true;
}

bool WriteLineSettings(int fd, const TDeviceControlBlock& dcb) {
  if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > 4 ||
      (dcb.StopBits != 0 && dcb.StopBits != 2)) {
    errno = EINVAL;
    return false;
  }
  termios2 before{};
  if (!Get(fd, before)) return false;
  termios2 t = before;
  SetRate(t, dcb.BaudRate);
  t.c_cflag &= ~(CSIZE | kParityMask | CSTOPB | CRTSCTS);
  t.c_cflag |= FramingFlags(dcb) | CREAD | CLOCAL;
  if (dcb.fOutxCtsFlow) t.c_cflag |= CRTSCTS;
  t.c_iflag &= ~(IXON | IXOFF | INPCK);
  if (dcb.fOutX) t.c_iflag |= IXON;
  if (dcb.fInX) t.c_iflag |= IXOFF;
  if (dcb.fParity) t.c_iflag |= INPCK;
  t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
  t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
  t.c_cc[VEOF] = static_cast<cc_t>(dcb.EofChar);
  if (!Set(fd, t)) return false;

  // The driver takes what it can and keeps quiet about the rest: check what it took.
  termios2 after{};
  if (!Get(fd, after)) return false;
  const tcflag_t checked = CSIZE | kParityMask | CSTOPB;
  if ((after.c_cflag & checked) != (t.c_cflag & checked) ||
      !RateClose(dcb.BaudRate, RateOf(after))) {
    Set(fd, before);
    errno = EINVAL;
    return false;
  }
  return true;
}

}  // namespace comm
