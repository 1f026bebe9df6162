// Why a port could not be opened, in words the user can act on.
#pragma once

#include <optional>
#include <string>

namespace comm {

struct TOpenError {
  int Error = 0;     // errno of the failed step; 0 when the last open succeeded
  std::string Text;  // e.g. "/dev/ttyUSB0: Permission denied ..."; empty on success
};

// Who may open a device file: its owner and group (names, or the ids in
// decimal when the system has no name for them) and its permission bits.
struct TDeviceAccess {
  std::string Owner;
  std::string Group;
  unsigned Mode = 0;  // st_mode & 07777
};

// The owner, group and mode of `path`; nothing when it cannot be examined.
std::optional<TDeviceAccess> ExamineDevice(const std::string& path);

// The reason for errno `error` on opening `path`, with a hint where one helps.
// A refused permission names the 'dialout' group only when the device belongs
// to it; otherwise it says who owns the device and its mode (`access`, when known).
TOpenError DescribeOpenError(const std::string& path, int error,
                             const std::optional<TDeviceAccess>& access);
// The same, examining the device itself when permission was refused.
TOpenError DescribeOpenError(const std::string& path, int error);

}  // namespace comm
