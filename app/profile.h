// Profiles: `--profile NAME` (or NAME as the first argument) takes the section
// NAME of the config file (`--config FILE`, else the first of the default
// places that exists) and turns each of its keys into the long option of that
// name, before the command line's own: every option works in the file, and
// the command line wins. `--print-config` prints the settings in effect and
// where each came from. Every mistake in the file names the file, the line and
// the key, and ends the start with status 2.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "app/options.h"

namespace app {

struct TConfigPlaces {
  // Where the config file is looked for without --config, in order.
  std::vector<std::string> Defaults;
  // Reads a file: 0 with `text`, else the errno (ENOENT: not there).
  std::function<int(const std::string& path, std::string& text)> Read;
};

// A config file larger than this is refused (EFBIG) unread.
inline constexpr std::size_t kMaxConfigBytes = 1024 * 1024;

// ~/.config/consolew/consolew.conf (or $XDG_CONFIG_HOME/...), then
// /etc/consolew/consolew.conf, read from the file system.
TConfigPlaces DefaultConfigPlaces();

// The command line with its profile, parsed as ParseOptions does.
TParseResult ParseCommandLine(const std::vector<std::string>& args, const TConfigPlaces& places);

}  // namespace app
