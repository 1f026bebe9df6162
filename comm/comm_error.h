// The error the serial component raises: a message with the error number in it.
#pragma once

#include <stdexcept>
#include <string>

namespace comm {

class ECommError : public std::runtime_error {
 public:
  // `format` holds one "%d" that receives `error` (an errno value, or -1 for the
  // component's own refusals).
  ECommError(const char* format, int error);
  int ErrorCode() const { return FErrorCode; }

 private:
  int FErrorCode;
};

// Message texts.
inline constexpr const char* kErrPortAssigned = "Port already assigned (open) (Error: %d)";
inline constexpr const char* kErrInitBuffers = "Error initializing Read/Write Buffers (Error: %d)";
inline constexpr const char* kErrCommTimeouts = "Error updating CommTimeouts (Error: %d)";
inline constexpr const char* kErrDataControlBlock = "Error updating DataControlBlock (Error: %d)";
inline constexpr const char* kErrEscapeComm = "EscapeCommFunction failure (Error: %d)";
inline constexpr const char* kErrPortNotOpen = "Port not open (Error: %d)";

}  // namespace comm
