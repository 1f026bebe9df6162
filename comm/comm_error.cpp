#include "comm/comm_error.h"

#include <cstdio>

namespace comm {

namespace {
std::string FormatMessage(const char* format, int error) {
  char text[160];
  std::snprintf(text, sizeof text, format, error);
  return text;
}
}  // namespace

ECommError::ECommError(const char* format, int error)
    : std::runtime_error(FormatMessage(format, error)), FErrorCode(error) {}

}  // namespace comm
