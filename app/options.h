// The command line of the Linux console (the original had none), parsed into
// the session's options.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "session/session_options.h"

namespace app {

struct TParseResult {
  TOptions Options;
  // -1: go on and start; otherwise exit at once with this status after printing Message.
  int ExitCode = -1;
  std::string Message;
};

// Parses the arguments after the program name. An option with a value takes
// it as the next argument or after '=' ("--image FILE", "--image=FILE").
TParseResult ParseOptions(const std::vector<std::string>& args);
std::string Usage();
// Whether `name` ("--image") is one of the console's options, and whether it takes a value.
enum class TOptionKind { Unknown, Flag, Value };
TOptionKind OptionKind(std::string_view name);
// "consolew 1.01": the program and its version.
std::string VersionText();

}  // namespace app
