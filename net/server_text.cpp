#include "net/server_text.h"

namespace net {

std::string ServerText(const uint8_t* bytes, size_t n) {
  std::string text;
  bool gap = false;
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = bytes[i];
    if (b <= 0x20 || b >= 0x7F) {
      gap = true;
      continue;
    }
    if (gap && !text.empty()) text += ' ';
    gap = false;
    if (text.size() >= kServerTextMax) {
      text.resize(kServerTextMax - 3);
      return text + "...";
    }
    text += static_cast<char>(b);
  }
  return text;
}

}  // namespace net
