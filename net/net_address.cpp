#include "net/net_address.h"

#include <array>
#include <charconv>

namespace net {
namespace {

struct TSchemeName {
  std::string_view Prefix;
  TNetScheme Scheme;
};
constexpr std::array<TSchemeName, 2> kSchemes = {{
    {"rfc2217://", TNetScheme::nsRfc2217},
    {"tcp://", TNetScheme::nsRaw},
}};

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char c = s[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

const TSchemeName* SchemeOf(std::string_view name) {
  for (const auto& s : kSchemes) {
    if (StartsWithNoCase(name, s.Prefix)) return &s;
  }
  return nullptr;
}

bool ValidHostChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '-' || c == '_' || c == ':' || c == '%';
}

}  // namespace

bool IsNetworkName(std::string_view name) { return SchemeOf(name) != nullptr; }

std::optional<TNetAddress> ParseNetAddress(std::string_view name, std::string& error) {
  const TSchemeName* scheme = SchemeOf(name);
  if (scheme == nullptr) {
    error = "not a network port (rfc2217://HOST:PORT or tcp://HOST:PORT)";
    return std::nullopt;
  }
  std::string_view rest = name.substr(scheme->Prefix.size());
  while (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);  // "tcp://h:1/"
  TNetAddress address;
  address.Scheme = scheme->Scheme;
  std::string_view portText;
  if (!rest.empty() && rest.front() == '[') {
    const size_t close = rest.find(']');
    if (close == std::string_view::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
      error = "an IPv6 address is written in brackets with the port after it: [::1]:PORT";
      return std::nullopt;
    }
    address.Host = std::string(rest.substr(1, close - 1));
    portText = rest.substr(close + 2);
  } else {
    const size_t colon = rest.rfind(':');
    if (colon == std::string_view::npos) {
      error = "the port number is missing (HOST:PORT)";
      return std::nullopt;
    }
    address.Host = std::string(rest.substr(0, colon));
    if (address.Host.find(':') != std::string::npos) {
      error = "an IPv6 address is written in brackets: [::1]:PORT";
      return std::nullopt;
    }
    portText = rest.substr(colon + 1);
  }
  if (address.Host.empty()) {
    error = "the host is missing (HOST:PORT)";
    return std::nullopt;
  }
  for (char c : address.Host) {
    if (!ValidHostChar(c)) {
      error = "the host name holds a character that no host name has";
      return std::nullopt;
    }
  }
  unsigned port = 0;
  const auto [end, ec] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
  if (portText.empty() || ec != std::errc() || end != portText.data() + portText.size() || port == 0 ||
      port > 65535) {
    error = "the port must be a number from 1 to 65535";
    return std::nullopt;
  }
  address.Port = static_cast<uint16_t>(port);
  return address;
}

}  // namespace net
