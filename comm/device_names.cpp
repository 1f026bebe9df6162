#include "comm/device_names.h"

#include <algorithm>
#include <cctype>

namespace comm {

namespace {
std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}
}  // namespace

TDeviceNameMap::TDeviceNameMap() : FEntries{{"COM1", "/dev/ttyS0"}, {"COM2", "/dev/ttyS1"}} {}

void TDeviceNameMap::Set(const std::string& name, const std::string& path) {
  const std::string key = Upper(name);
  for (auto& entry : FEntries) {
    if (entry.first == key) {
      entry.second = path;
      return;
    }
  }
  FEntries.emplace_back(key, path);
}

std::string TDeviceNameMap::Resolve(const std::string& name) const {
  if (name.empty()) return {};
  if (name.front() == '/') return name;
  const std::string key = Upper(name);
  for (const auto& entry : FEntries)
    if (entry.first == key) return entry.second;
  return "/dev/" + name;
}

}  // namespace comm
