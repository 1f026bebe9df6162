// What a network serial server sends, arbitrary bytes in arbitrary chunks,
// through the telnet/RFC 2217 codec: no crash, bounded answers, and data
// bytes that are exactly the input with the telnet commands taken out.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <vector>

#include "net/net_address.h"
#include "net/telnet_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  net::TTelnetCodec codec;
  (void)codec.Start();
  std::vector<uint8_t> received;
  std::string answer;
  size_t fed = 0;
  while (in.remaining_bytes() > 0) {
    const auto chunk = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(1, 64));
    const size_t before = answer.size();
    codec.Receive(chunk.data(), chunk.size(), received, answer);
    fed += chunk.size();
    // Each byte of the server's can cost at most one 3-byte answer.
    if (answer.size() - before > 3 * chunk.size()) __builtin_trap();
    if (received.size() > fed) __builtin_trap();
    // What goes out carries no lone IAC: sent data reads back as itself.
    std::string wire;
    const net::TTelnetCodec sender;
    sender.Send(chunk.data(), chunk.size(), wire);
    net::TTelnetCodec peer;
    std::vector<uint8_t> back;
    std::string ignored;
    peer.Receive(reinterpret_cast<const uint8_t*>(wire.data()), wire.size(), back, ignored);
    if (back != chunk) __builtin_trap();
  }
  std::string error;
  (void)net::ParseNetAddress(std::string(reinterpret_cast<const char*>(data), size), error);
  return 0;
}
