#include "frontends/console_log.h"

#include <unistd.h>

#include <cstdio>
#include <ctime>

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

// "2026-12-09 13:12:03.045 " in local time.
std::string LocalStamp(std::chrono::system_clock::time_point when) {
  using namespace std::chrono;
  const auto since = when.time_since_epoch();
  const auto whole = floor<seconds>(since);
  const std::time_t t = static_cast<std::time_t>(whole.count());
  std::tm local{};
  if (::localtime_r(&t, &local) == nullptr) return {};
  char text[48];
  const size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  std::snprintf(text + n, sizeof text - n, ".%03d ",
                static_cast<int>(floor<milliseconds>(since - whole).count()));
  return text;
}

}  // namespace

bool TConsoleLog::Open(const std::string& path, std::string& error) {
  Fd = OpenForAppend(path, error);
  return Fd >= 0;
}

TConsoleLog::~TConsoleLog() {
  Finish();
  if (Fd >= 0) ::close(Fd);
}

void TConsoleLog::Text(std::string_view text, int32_t row, int32_t endRow) {
  // Written at another row than the last text left the cursor on: a new line.
  if (row != kNoRow && LastRow != kNoRow && row != LastRow && !Line.empty()) EndLine();
  if (endRow != kNoRow) LastRow = endRow;
  for (const char ch : text) {
    const auto c = static_cast<uint8_t>(ch);
    switch (c) {
      case '\n':
        EndLine();
        break;
      case '\r':
      case 0x07:
        break;
      case 0x08:
        PopUtf8(Line);
        break;
      case '\t':
        Begin();
        Line += '\t';
        break;
      default:
        if (c < 0x20) break;  // other control codes have no place in a text log
        Begin();
        display::AppendUtf8(Line, display::Cp437ToUnicode(c));
        if (Line.size() >= kLongestLine) EndLine();
        break;
    }
  }
}

void TConsoleLog::Finish() {
  if (!Line.empty()) EndLine();
}

void TConsoleLog::Begin() {
  if (Timestamps && Stamp.empty()) Stamp = LocalStamp(Clock());
}

void TConsoleLog::EndLine() {
  Begin();  // an empty line is stamped when it ends
  Put(Stamp + Line + "\n");
  Line.clear();
  Stamp.clear();
}

void TConsoleLog::Put(const std::string& line) {
  if (Fd < 0 || !Error.empty()) return;
  Error = WriteFully(Fd, line.data(), line.size());
}

}  // namespace app
