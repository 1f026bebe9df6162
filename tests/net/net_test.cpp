// Network port names and the telnet/RFC 2217 codec, byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/net_address.h"
#include "net/server_text.h"
#include "net/telnet_codec.h"

namespace {

using net::TTelnetCodec;

std::vector<uint8_t> Hex(const std::string& text) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 2 <= text.size(); i += 3) {
    out.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
  }
  return out;
}
std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}
std::string HexOf(const std::string& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if (!out.empty()) out += ' ';
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}
std::string HexOf(const std::vector<uint8_t>& bytes) { return HexOf(std::string(bytes.begin(), bytes.end())); }

struct TAddressCase {
  const char* Name;
  bool Ok;
  net::TNetScheme Scheme;
  const char* Host;
  uint16_t Port;
};

TEST(NetAddress, ParsesTheTwoSchemesAndRefusesMalformedNames) {
  const TAddressCase cases[] = {
      {"rfc2217://lab-server:2001", true, net::TNetScheme::nsRfc2217, "lab-server", 2001},
      {"tcp://127.0.0.1:5555", true, net::TNetScheme::nsRaw, "127.0.0.1", 5555},
      {"TCP://[::1]:7000/", true, net::TNetScheme::nsRaw, "::1", 7000},
      {"rfc2217://[fe80::1%eth0]:23", true, net::TNetScheme::nsRfc2217, "fe80::1%eth0", 23},
      {"tcp://host", false, {}, "", 0},
      {"tcp://host:0", false, {}, "", 0},
      {"tcp://host:65536", false, {}, "", 0},
      {"tcp://host:12x", false, {}, "", 0},
      {"tcp://:2000", false, {}, "", 0},
      {"tcp://::1:2000", false, {}, "", 0},
      {"tcp://[::1]2000", false, {}, "", 0},
      {"tcp://a b:1", false, {}, "", 0},
      {"/dev/ttyUSB0", false, {}, "", 0},
  };
  for (const auto& c : cases) {
    std::string error;
    const auto a = net::ParseNetAddress(c.Name, error);
    ASSERT_EQ(a.has_value(), c.Ok) << c.Name << ": " << error;
    EXPECT_EQ(net::IsNetworkName(c.Name), std::string(c.Name).find("://") != std::string::npos) << c.Name;
    if (!c.Ok) {
      EXPECT_FALSE(error.empty()) << c.Name;
      continue;
    }
    EXPECT_EQ(a->Scheme, c.Scheme) << c.Name;
    EXPECT_EQ(a->Host, c.Host) << c.Name;
    EXPECT_EQ(a->Port, c.Port) << c.Name;
  }
}

TEST(TelnetCodec, OffersBinaryAndPortControlAndSetsTheLine) {
  TTelnetCodec codec;
  EXPECT_EQ(HexOf(codec.Start()), "FF FB 00 FF FD 00 FF FB 03 FF FD 03 FF FB 2C");
  // 115200 8N1; a rate with an 0xFF byte has it doubled inside the subnegotiation.
  EXPECT_EQ(HexOf(TTelnetCodec::LineSettings({})),
            "FF FA 2C 01 00 01 C2 00 FF F0 FF FA 2C 02 08 FF F0 "
            "FF FA 2C 03 01 FF F0 FF FA 2C 04 01 FF F0");
  EXPECT_EQ(HexOf(TTelnetCodec::LineSettings({0x0001FFFF, 7, 3, 2}).substr(0, 12)),
            "FF FA 2C 01 00 01 FF FF FF FF FF F0");
  EXPECT_EQ(HexOf(TTelnetCodec::Control(net::kControlRtsOn)), "FF FA 2C 05 0B FF F0");
}

// Each case: bytes from the server after the client's opening, the data the
// link must see, what the client answers, and the port-control state after.
struct TReceiveCase {
  const char* Name;
  std::vector<std::string> Chunks;  // hex, one Receive call each
  std::string Data;
  std::string Answer;
  int ComPort;  // -1 no answer yet, 0 refused, 1 accepted
};

TEST(TelnetCodec, ReceivesDataAndAnswersNegotiation) {
  const TReceiveCase cases[] = {
      // What ser2net 4 sends first: it wants echo off and port control on.
      {"ser2net opening",
       {"FF FB 03 FF FD 03 FF FB 01 FF FE 01 FF FD 00 FF FB 00 FF FD 2C"}, "", "FF FE 01", 1},
      {"doubled 0xFF split across reads", {"77 FF", "FF 0D 00 55"}, "77 FF 0D 00 55", "", -1},
      {"replies to the settings carry no data",
       {"FF FA 2C 65 00 01 C2 00 FF F0 41 FF FA 2C", "66 08 FF F0 42"}, "41 42", "", -1},
      {"refused port control", {"FF FE 2C"}, "", "", 0},
      {"unknown options refused once each", {"FF FD 18 FF FD 18 FF FB 05 FF FB 05 07"}, "07",
       "FF FC 18 FF FE 05", -1},
      {"a subnegotiation that never ends gives way to the next command",
       {"FF FA 2C 06 10 20", "FF F1 61 62"}, "61 62", "", -1},
      {"an overlong subnegotiation is skipped", {"FF FA 2C" + Repeat(" 41", 300), "FF F0 63"}, "63", "", -1},
      {"CR NUL stays as it is in binary mode", {"0D 00 0D 0A"}, "0D 00 0D 0A", "", -1},
      {"CR NUL is a CR once the server refused binary", {"FF FC 00 0D 00 0D 0A 00"}, "0D 0D 0A 00", "",
       -1},
  };
  for (const auto& c : cases) {
    TTelnetCodec codec;
    (void)codec.Start();
    std::vector<uint8_t> data;
    std::string answer;
    for (const std::string& chunk : c.Chunks) {
      const auto bytes = Hex(chunk);
      codec.Receive(bytes.data(), bytes.size(), data, answer);
    }
    EXPECT_EQ(HexOf(data), c.Data) << c.Name;
    EXPECT_EQ(HexOf(answer), c.Answer) << c.Name;
    const int comPort = codec.ComPortControl() ? (*codec.ComPortControl() ? 1 : 0) : -1;
    EXPECT_EQ(comPort, c.ComPort) << c.Name;
  }
}

TEST(TelnetCodec, SendsDataWithIacDoubledAndCrNulOnlyWithoutBinary) {
  TTelnetCodec codec;
  (void)codec.Start();
  const std::vector<uint8_t> data = {0x77, 0xFF, 0x0D, 0x00, 0x0D};
  std::string out;
  codec.Send(data.data(), data.size(), out);
  EXPECT_EQ(HexOf(out), "77 FF FF 0D 00 0D");
  std::vector<uint8_t> ignored;
  std::string answer;
  const auto refuse = Hex("FF FE 00");  // DONT BINARY
  codec.Receive(refuse.data(), refuse.size(), ignored, answer);
  out.clear();
  codec.Send(data.data(), data.size(), out);
  EXPECT_EQ(HexOf(out), "77 FF FF 0D 00 00 0D 00");
}

TEST(ServerText, OnlyPrintableAsciiInOneBoundedLine) {
  struct TCase {
    const char* Name;
    std::string Bytes;
    std::string Shown;
  };
  const TCase cases[] = {
      {"ser2net", "Device open failure: Value or file not found\r\n",
       "Device open failure: Value or file not found"},
      {"control bytes and a line end inside", std::string("\x1b[2Jbad\0\0device\r\n\tgone  ", 24),
       "[2Jbad device gone"},
      {"high bytes", "caf\xC3\xA9 closed\xFF", "caf closed"},
      {"nothing printable", "\r\n\x01\xFF", ""},
      {"too long", std::string(200, 'x'), std::string(net::kServerTextMax - 3, 'x') + "..."},
      {"just fits", std::string(net::kServerTextMax, 'y'), std::string(net::kServerTextMax, 'y')},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(net::ServerText(reinterpret_cast<const uint8_t*>(c.Bytes.data()), c.Bytes.size()), c.Shown)
        << c.Name;
  }
}

}  // namespace
