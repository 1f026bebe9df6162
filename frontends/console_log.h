// The boot log a CI job keeps (--log FILE): the board's teletype output and the
// console's own messages as plain UTF-8 text, a line per line, each line in the
// file as soon as it ends. Text the board writes at another row (a menu, a
// status box) starts a new line. The file is appended to; with timestamps
// (--log-timestamps) each line starts with the local time it began at.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace app {

class TConsoleLog {
 public:
  // Opens `path` for appending; false (with `error`) when it cannot.
  bool Open(const std::string& path, std::string& error);
  ~TConsoleLog();
  TConsoleLog() = default;
  TConsoleLog(const TConsoleLog&) = delete;
  TConsoleLog& operator=(const TConsoleLog&) = delete;

  static constexpr int32_t kNoRow = -1;
  // Text as written to the screen (CP437, with CR, LF, BS, BEL and TAB), with
  // the cursor's row before it and after it: text that does not go on from
  // the row where the last text left the cursor starts a new line.
  void Text(std::string_view text, int32_t row = kNoRow, int32_t endRow = kNoRow);
  // Writes an unfinished line (a prompt) at the end.
  void Finish();
  // The first failure to write, for one message (empty while all is well).
  const std::string& WriteError() const { return Error; }

  // Each line starts with "2026-12-09 13:12:03.045 ", the local time of its
  // first character (of its end, for an empty line).
  bool Timestamps = false;
  std::function<std::chrono::system_clock::time_point()> Clock = [] {
    return std::chrono::system_clock::now();
  };

 private:
  // The line gets its first character: the time is taken.
  void Begin();
  void EndLine();
  void Put(const std::string& line);

  int Fd = -1;
  std::string Line;  // UTF-8
  std::string Stamp;  // the time the line began, when stamped
  int32_t LastRow = kNoRow;
  std::string Error;
};

}  // namespace app
