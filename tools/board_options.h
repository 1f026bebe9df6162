// The command line of board-sim.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/fault_injector.h"

namespace boardsim {

enum class TScriptKind { Demo, ReadImage, WriteImage, Ping, Keys };

struct TBoardOptions {
  std::string Device;   // serial device to use; empty: start the console on a pty
  std::string PtyLink;  // offer the line on a pty of its own, this symlink naming its slave
  unsigned ReplugAfter = 0;  // with PtyLink: a new pty pair after this many requests (0: never)
  std::string Console;  // console binary; empty: consolew next to board-sim
  std::string Image;    // handed to the console as --image
  std::vector<std::string> ConsoleArgs;  // extra arguments after "--"
  uint32_t BitsPerSecond = 115200;       // 0: unpaced
  unsigned AckTimeoutMs = 500;
  std::optional<double> TimeoutSeconds;
  TScriptKind Script = TScriptKind::Demo;
  std::string ScriptPath;
  unsigned ScriptCount = 0;
  TFaultConfig Faults;
  bool Help = false;
};

// Parses argv[1..]; on a bad command line returns nothing and sets `error`.
std::optional<TBoardOptions> ParseBoardOptions(const std::vector<std::string>& args,
                                               std::string& error);
std::string BoardUsage();

}  // namespace boardsim
