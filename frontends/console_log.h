// The boot log a CI job keeps (--log FILE): the board's teletype output and the
// console's own messages as plain UTF-8 text, a line per line, each line in the
// file as soon as it ends. The file is appended to.
#pragma once

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

  // Text as written to the screen (CP437, with CR, LF, BS, BEL and TAB).
  void Text(std::string_view text);
  // Writes an unfinished line (a prompt) at the end.
  void Finish();
  // The first failure to write, for one message (empty while all is well).
  const std::string& WriteError() const { return Error; }

 private:
  void Put(const std::string& line);

  int Fd = -1;
  std::string Line;  // UTF-8
  std::string Error;
};

}  // namespace app
