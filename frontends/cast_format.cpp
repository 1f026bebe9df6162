#include "frontends/cast_format.h"

#include <cstdio>

#include "display/screen.h"

namespace app {

namespace {

// The length of the well-formed UTF-8 character at text[i], 0 when there is none.
size_t Utf8Length(std::string_view text, size_t i) {
  const auto b = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  const uint8_t lead = b(i);
  size_t n = 0;
  uint32_t cp = 0;
  uint32_t min = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    n = 2, cp = lead & 0x1FU, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    n = 3, cp = lead & 0x0FU, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    n = 4, cp = lead & 0x07U, min = 0x10000;
  } else {
    return 0;
  }
  if (i + n > text.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(i + k) & 0x3FU);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  out.reserve(text.size() + 16);
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<uint8_t>(text[i]);
    if (c >= 0x80) {
      const size_t n = Utf8Length(text, i);
      if (n == 0) {
        out += "\xEF\xBF\xBD";
        ++i;
      } else {
        out.append(text.substr(i, n));
        i += n;
      }
      continue;
    }
    ++i;
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
  return out;
}

std::string CastHeader(int64_t unixSeconds, std::string_view title) {
  return "{\"version\": 2, \"width\": " + std::to_string(display::TScreen::kCols) +
         ", \"height\": " + std::to_string(display::TScreen::kRows) + ", \"timestamp\": " +
         std::to_string(unixSeconds) + ", \"title\": " + JsonString(title) +
         ", \"env\": {\"TERM\": \"xterm-256color\"}}\n";
}

std::string CastEvent(double seconds, char kind, std::string_view data) {
  char time[32];
  std::snprintf(time, sizeof time, "%.6f", seconds < 0 ? 0.0 : seconds);
  return std::string("[") + time + ", \"" + kind + "\", " + JsonString(data) + "]\n";
}

}  // namespace app
