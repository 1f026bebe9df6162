// The lines of an asciicast v2 file (what `asciinema play` and its web player
// read): a JSON header, then one JSON array per event, `[seconds, "o", data]`
// for terminal output and `[seconds, "m", label]` for a marker.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace app {

// The header line (with its '\n') of an 80x25 recording started at `unixSeconds`.
std::string CastHeader(int64_t unixSeconds, std::string_view title);
// One event line (with its '\n'); `kind` is 'o' (output) or 'm' (marker).
// `data` is UTF-8; bytes that are not are written as U+FFFD.
std::string CastEvent(double seconds, char kind, std::string_view data);
// `text` as a JSON string literal, quotes included.
std::string JsonString(std::string_view text);

}  // namespace app
