// The console's config file: INI text with one section per board, keys named
// as the long options without their dashes ("com1 = /dev/ttyUSB0",
// "read-only = true"). '#' and ';' start comment lines.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace app {

struct TConfigEntry {
  std::string Key;
  std::string Value;
  int Line = 0;
};

struct TConfigSection {
  std::string Name;
  int Line = 0;
  std::vector<TConfigEntry> Entries;
};

struct TConfigFile {
  std::string Path;
  std::vector<TConfigSection> Sections;
  const TConfigSection* Find(std::string_view name) const;
};

// Reads `text` (the contents of `path`); false with `error` ("FILE:LINE: why")
// on a line that is neither a section, a key or a comment, a key outside any
// section, a section given twice, or a key given twice in one section.
bool ParseConfigText(const std::string& path, std::string_view text, TConfigFile& out, std::string& error);

}  // namespace app
