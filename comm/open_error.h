// Why a port could not be opened, in words the user can act on.
#pragma once

#include <string>

namespace comm {

struct TOpenError {
  int Error = 0;     // errno of the failed step; 0 when the last open succeeded
  std::string Text;  // e.g. "/dev/ttyUSB0: Permission denied ..."; empty on success
};

// The reason for errno `error` on opening `path`, with a hint where one helps.
TOpenError DescribeOpenError(const std::string& path, int error);

}  // namespace comm
