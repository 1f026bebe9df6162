// What a serial server says in words before it closes a connection it has
// just accepted (ser2net: "Device open failure: ..."), made fit to show: the
// server is not trusted, so only printable ASCII is kept, line ends and other
// control bytes become single spaces, and the text is bounded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace net {

// At most this many characters are shown.
inline constexpr size_t kServerTextMax = 160;

// The text of `n` bytes as shown to the user: printable ASCII, runs of
// anything else as one space, no space at either end, cut at kServerTextMax
// (with "..." when cut). Empty when nothing printable is in it.
std::string ServerText(const uint8_t* bytes, size_t n);

}  // namespace net
