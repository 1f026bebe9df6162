#include "net/telnet_codec.h"

namespace net {
namespace {

// RFC 2217 commands, client to server (the server answers with 100 more).
constexpr uint8_t kSetBaudRate = 1;
constexpr uint8_t kSetDataSize = 2;
constexpr uint8_t kSetParity = 3;
constexpr uint8_t kSetStopSize = 4;
constexpr uint8_t kSetControl = 5;
constexpr uint8_t kServerOffset = 100;

void Put3(std::string& out, uint8_t a, uint8_t b, uint8_t c) {
  out.push_back(static_cast<char>(a));
  out.push_back(static_cast<char>(b));
  out.push_back(static_cast<char>(c));
}

// IAC SB COM-PORT-OPTION command payload IAC SE, with 0xFF in the payload doubled.
std::string Subnegotiation(uint8_t command, const std::vector<uint8_t>& payload) {
  std::string out;
  Put3(out, TTelnetCodec::kIac, TTelnetCodec::kSb, TTelnetCodec::kOptComPort);
  out.push_back(static_cast<char>(command));
  for (uint8_t b : payload) {
    out.push_back(static_cast<char>(b));
    if (b == TTelnetCodec::kIac) out.push_back(static_cast<char>(b));
  }
  out.push_back(static_cast<char>(TTelnetCodec::kIac));
  out.push_back(static_cast<char>(TTelnetCodec::kSe));
  return out;
}

}  // namespace

bool TTelnetCodec::WeSupport(uint8_t option) {
  return option == kOptBinary || option == kOptSuppressGoAhead || option == kOptComPort;
}

bool TTelnetCodec::TheySupport(uint8_t option) {
  return option == kOptBinary || option == kOptSuppressGoAhead;
}

std::string TTelnetCodec::Start() {
  std::string out;
  for (uint8_t option : {kOptBinary, kOptSuppressGoAhead}) {
    Put3(out, kIac, kWill, option);
    Offered[option] = true;
    Put3(out, kIac, kDo, option);
    Asked[option] = true;
  }
  Put3(out, kIac, kWill, kOptComPort);
  Offered[kOptComPort] = true;
  return out;
}

void TTelnetCodec::Command(uint8_t verb, uint8_t option, std::string& answer) {
  switch (verb) {
    case kDo:
      if (WeSupport(option)) {
        if (!Us[option] && !Offered[option]) Put3(answer, kIac, kWill, option);
        Us[option] = true;
        Offered[option] = false;
        if (option == kOptComPort) ComPort = true;
      } else if (!RefusedUs[option]) {
        Put3(answer, kIac, kWont, option);
        RefusedUs[option] = true;
      }
      break;
    case kDont:
      if (Us[option]) Put3(answer, kIac, kWont, option);
      Us[option] = false;
      Offered[option] = false;
      if (option == kOptComPort) ComPort = false;
      if (option == kOptBinary) OurBinaryRefused = true;
      break;
    case kWill:
      if (TheySupport(option)) {
        if (!Them[option] && !Asked[option]) Put3(answer, kIac, kDo, option);
        Them[option] = true;
        Asked[option] = false;
      } else if (!RefusedThem[option]) {
        // Echo and everything else: the data must reach us as the board sent it.
        Put3(answer, kIac, kDont, option);
        RefusedThem[option] = true;
      }
      break;
    case kWont:
      if (Them[option]) Put3(answer, kIac, kDont, option);
      Them[option] = false;
      Asked[option] = false;
      if (option == kOptBinary) TheirBinaryRefused = true;
      break;
    default:
      break;
  }
}

void TTelnetCodec::SubnegotiationEnd() {
  // Only port-control replies are of interest, and only to count them: the
  // server's line and modem state notifications are not acted on.
  if (!SubOverflow && Sub.size() >= 2 && Sub[0] == kOptComPort && Sub[1] > kServerOffset) ++Replies;
  Sub.clear();
  SubOverflow = false;
}

void TTelnetCodec::AfterIac(uint8_t b, std::vector<uint8_t>& data) {
  if (b == kIac) {
    data.push_back(b);
    LastWasCr = false;
    State = TState::Data;
  } else if (b >= kWill && b <= kDont) {
    Verb = b;
    State = TState::Option;
  } else if (b == kSb) {
    Sub.clear();
    SubOverflow = false;
    State = TState::Sub;
  } else {
    State = TState::Data;  // NOP, data mark, go ahead, ...: nothing to do
  }
}

void TTelnetCodec::Receive(const uint8_t* in, size_t n, std::vector<uint8_t>& data,
                           std::string& answer) {
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = in[i];
    switch (State) {
      case TState::Data:
        if (b == kIac) {
          State = TState::Iac;
          break;
        }
        // Without binary mode a carriage return travels as CR NUL.
        if (b == 0 && LastWasCr && TheirBinaryRefused) {
          LastWasCr = false;
          break;
        }
        data.push_back(b);
        LastWasCr = b == '\r';
        break;
      case TState::Iac:
        AfterIac(b, data);
        break;
      case TState::Option:
        Command(Verb, b, answer);
        State = TState::Data;
        break;
      case TState::Sub:
        if (b == kIac) {
          State = TState::SubIac;
        } else if (Sub.size() < kMaxSubnegotiation) {
          Sub.push_back(b);
        } else {
          SubOverflow = true;
        }
        break;
      case TState::SubIac:
        if (b == kSe) {
          SubnegotiationEnd();
          State = TState::Data;
        } else if (b == kIac) {
          if (Sub.size() < kMaxSubnegotiation) {
            Sub.push_back(b);
          } else {
            SubOverflow = true;
          }
          State = TState::Sub;
        } else {
          // A command inside a subnegotiation ends it (a server that never
          // closes one must not swallow the data that follows).
          Sub.clear();
          SubOverflow = false;
          AfterIac(b, data);
        }
        break;
    }
  }
}

void TTelnetCodec::Send(const uint8_t* in, size_t n, std::string& out) const {
  out.reserve(out.size() + n + 8);
  for (size_t i = 0; i < n; ++i) {
    out.push_back(static_cast<char>(in[i]));
    if (in[i] == kIac) out.push_back(static_cast<char>(kIac));
    if (in[i] == '\r' && OurBinaryRefused) out.push_back('\0');
  }
}

std::string TTelnetCodec::LineSettings(const TLineSettings& s) {
  std::string out = Subnegotiation(
      kSetBaudRate, {static_cast<uint8_t>(s.BitRate >> 24), static_cast<uint8_t>(s.BitRate >> 16),
                     static_cast<uint8_t>(s.BitRate >> 8), static_cast<uint8_t>(s.BitRate)});
  out += Subnegotiation(kSetDataSize, {s.DataSize});
  out += Subnegotiation(kSetParity, {s.Parity});
  out += Subnegotiation(kSetStopSize, {s.StopSize});
  return out;
}

std::string TTelnetCodec::Control(uint8_t value) { return Subnegotiation(kSetControl, {value}); }

}  // namespace net
