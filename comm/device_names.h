// Which device file a port name such as "COM1" stands for.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace comm {

// Port names compare without regard to case ("Com1" is "COM1"). A name that starts with
// "/" is a path and is used as it is; any other unknown name is looked for under /dev.
class TDeviceNameMap {
 public:
  // COM1 → /dev/ttyS0, COM2 → /dev/ttyS1.
  TDeviceNameMap();

  // Maps `name` to `path` (replacing an earlier mapping of the same name).
  void Set(const std::string& name, const std::string& path);
  // The device file for `name`; empty for an empty name.
  std::string Resolve(const std::string& name) const;

 private:
  std::vector<std::pair<std::string, std::string>> FEntries;  // upper-case name, path
};

}  // namespace comm
