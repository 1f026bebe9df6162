#include "comm/open_error.h"

#include <cerrno>
#include <system_error>

namespace comm {

TOpenError DescribeOpenError(const std::string& path, int error) {
  if (path.empty()) return {error, "no device name given"};
  std::string text = path + ": ";
  switch (error) {
    case EACCES:
    case EPERM:
      text += std::generic_category().message(error) +
              " (the user must be a member of the 'dialout' group: "
              "sudo usermod -aG dialout $USER, then log in again)";
      break;
    case EWOULDBLOCK:
    case EBUSY:
      text += "the port is in use by another program";
      break;
    case ENOTTY:
      text += "not a serial device";
      break;
    default:
      text += std::generic_category().message(error);
      break;
  }
  return {error, text};
}

}  // namespace comm
