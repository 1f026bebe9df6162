#include "frontends/console_log.h"

#include <unistd.h>

#include "display/cp437.h"
#include "session/append_file.h"

namespace app {

namespace {

// Drops the last UTF-8 character of `s`.
void PopUtf8(std::string& s) {
  while (!s.empty()) {
    const auto b = static_cast<unsigned char>(s.back());
    s.pop_back();
    if ((b & 0xC0) != 0x80) break;
  }
}

constexpr size_t kLongestLine = 64 * 1024;  // a board that never ends a line still gets its text out

}  // namespace

bool TConsoleLog::Open(const std::string& path, std::string& error) {
  Fd = OpenForAppend(path, error);
  return Fd >= 0;
}

TConsoleLog::~TConsoleLog() {
  Finish();
  if (Fd >= 0) ::close(Fd);
}

void TConsoleLog::Text(std::string_view text) {
  for (const char ch : text) {
    const auto c = static_cast<uint8_t>(ch);
    switch (c) {
      case '\n':
        Put(Line + "\n");
        Line.clear();
        break;
      case '\r':
      case 0x07:
        break;
      case 0x08:
        PopUtf8(Line);
        break;
      case '\t':
        Line += '\t';
        break;
      default:
        if (c < 0x20) break;  // other control codes have no place in a text log
        display::AppendUtf8(Line, display::Cp437ToUnicode(c));
        if (Line.size() >= kLongestLine) {
          Put(Line + "\n");
          Line.clear();
        }
        break;
    }
  }
}

void TConsoleLog::Finish() {
  if (Line.empty()) return;
  Put(Line + "\n");
  Line.clear();
}

void TConsoleLog::Put(const std::string& line) {
  if (Fd < 0 || !Error.empty()) return;
  Error = WriteFully(Fd, line.data(), line.size());
}

}  // namespace app
