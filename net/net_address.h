// Network port names: "rfc2217://HOST:PORT" (telnet with RFC 2217 port control,
// as ser2net's telnet(rfc2217) accepters speak it) and "tcp://HOST:PORT" (raw
// TCP: ser2net's raw accepters, QEMU's -serial tcp). HOST is a name, an IPv4
// address or an IPv6 literal in brackets ("[::1]").
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace net {

enum class TNetScheme : uint8_t { nsRaw, nsRfc2217 };

struct TNetAddress {
  TNetScheme Scheme = TNetScheme::nsRaw;
  std::string Host;  // without the brackets of an IPv6 literal
  uint16_t Port = 0;
};

// True when `name` starts with one of the network schemes (whether or not the
// rest is well formed): such a name is never a device file.
bool IsNetworkName(std::string_view name);

// The address in `name`; nothing (with `error` saying what is wrong) when it
// is not a well-formed network port name.
std::optional<TNetAddress> ParseNetAddress(std::string_view name, std::string& error);

}  // namespace net
