// The client's side of a telnet connection with RFC 2217 port control: what a
// serial server such as ser2net (telnet(rfc2217) accepter) expects of a client.
// Data bytes travel in binary mode with 0xFF doubled; the line settings and
// the modem lines of the server's port are set by subnegotiation. No I/O here:
// the codec turns bytes into bytes, so it is tested and fuzzed on its own.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace net {

// The serial settings of the server's port, in RFC 2217's numbering.
struct TLineSettings {
  uint32_t BitRate = 115200;
  uint8_t DataSize = 8;  // 5..8
  uint8_t Parity = 1;    // 1 none, 2 odd, 3 even, 4 mark, 5 space
  uint8_t StopSize = 1;  // 1 one, 2 two, 3 one and a half
};

// SET-CONTROL values for the modem lines and the break.
inline constexpr uint8_t kControlBreakOn = 5;
inline constexpr uint8_t kControlBreakOff = 6;
inline constexpr uint8_t kControlDtrOn = 8;
inline constexpr uint8_t kControlDtrOff = 9;
inline constexpr uint8_t kControlRtsOn = 11;
inline constexpr uint8_t kControlRtsOff = 12;

class TTelnetCodec {
 public:
  static constexpr uint8_t kIac = 255;
  static constexpr uint8_t kDont = 254;
  static constexpr uint8_t kDo = 253;
  static constexpr uint8_t kWont = 252;
  static constexpr uint8_t kWill = 251;
  static constexpr uint8_t kSb = 250;
  static constexpr uint8_t kSe = 240;
  static constexpr uint8_t kOptBinary = 0;
  static constexpr uint8_t kOptSuppressGoAhead = 3;
  static constexpr uint8_t kOptComPort = 44;
  // Longest subnegotiation kept; the rest of a longer one is skipped.
  static constexpr size_t kMaxSubnegotiation = 64;

  // The client's opening: binary both ways, no go-ahead, and port control offered.
  std::string Start();

  // Takes bytes from the server: data bytes are appended to `data`, and what
  // the client must answer (negotiation) to `answer`.
  void Receive(const uint8_t* in, size_t n, std::vector<uint8_t>& data, std::string& answer);

  // Data bytes as they go on the connection: 0xFF doubled, and a carriage
  // return followed by NUL where the server refused binary mode.
  void Send(const uint8_t* in, size_t n, std::string& out) const;

  // The server's answer to port control: nothing yet, accepted or refused.
  std::optional<bool> ComPortControl() const { return ComPort; }

  // Subnegotiations that set the server's port to `settings`.
  static std::string LineSettings(const TLineSettings& settings);
  // A SET-CONTROL subnegotiation (kControl... values).
  static std::string Control(uint8_t value);

  // Subnegotiation replies of the server to port control seen so far.
  uint32_t PortReplies() const { return Replies; }

 private:
  enum class TState : uint8_t { Data, Iac, Option, Sub, SubIac };

  void Command(uint8_t verb, uint8_t option, std::string& answer);
  void SubnegotiationEnd();
  // The byte after an IAC (in data, or one that ends a subnegotiation).
  void AfterIac(uint8_t b, std::vector<uint8_t>& data);
  static bool WeSupport(uint8_t option);
  static bool TheySupport(uint8_t option);

  TState State = TState::Data;
  uint8_t Verb = 0;
  bool LastWasCr = false;
  std::vector<uint8_t> Sub;
  bool SubOverflow = false;
  // Option states: enabled on our side / theirs; offered or asked by us and
  // not answered yet; refused once already (a refusal is not repeated).
  std::array<bool, 256> Us{}, Them{}, Offered{}, Asked{}, RefusedUs{}, RefusedThem{};
  bool TheirBinaryRefused = false;
  bool OurBinaryRefused = false;
  std::optional<bool> ComPort;
  uint32_t Replies = 0;
};

}  // namespace net
