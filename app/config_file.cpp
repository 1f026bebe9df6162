#include "app/config_file.h"

namespace app {

namespace {

std::string_view Trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(" \t\r");
  return s.substr(first, last - first + 1);
}

bool Fail(const std::string& path, int line, const std::string& why, std::string& error) {
  error = path + ":" + std::to_string(line) + ": " + why;
  return false;
}

}  // namespace

const TConfigSection* TConfigFile::Find(std::string_view name) const {
  for (const auto& s : Sections) {
    if (s.Name == name) return &s;
  }
  return nullptr;
}

bool ParseConfigText(const std::string& path, std::string_view text, TConfigFile& out, std::string& error) {
  out.Path = path;
  out.Sections.clear();
  int number = 0;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view raw = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    ++number;
    const std::string_view line = Trim(raw);
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line[0] == '[') {
      if (line.back() != ']') return Fail(path, number, "a section needs its closing ']'", error);
      const std::string name(Trim(line.substr(1, line.size() - 2)));
      if (name.empty()) return Fail(path, number, "a section needs a name", error);
      if (const TConfigSection* before = out.Find(name)) {
        return Fail(path, number, "section [" + name + "] given twice (first on line " +
                                      std::to_string(before->Line) + ")", error);
      }
      out.Sections.push_back({name, number, {}});
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) return Fail(path, number, "not 'key = value': " + std::string(line), error);
    const std::string key(Trim(line.substr(0, eq)));
    if (key.empty()) return Fail(path, number, "a value without a key", error);
    if (out.Sections.empty()) return Fail(path, number, "key '" + key + "' before any [section]", error);
    auto& entries = out.Sections.back().Entries;
    for (const auto& e : entries) {
      if (e.Key == key) {
        return Fail(path, number, "key '" + key + "' given twice (first on line " + std::to_string(e.Line) + ")",
                    error);
      }
    }
    entries.push_back({key, std::string(Trim(line.substr(eq + 1))), number});
  }
  return true;
}

}  // namespace app
