// A text file the console appends to a line at a time (the console log, the
// trace): opened for appending, and written whole or not at all.
#pragma once

#include <cstddef>
#include <string>

namespace app {

// The descriptor of `path` opened for appending (created 0644), or -1 with
// `error` saying why ("boot.log: Permission denied").
int OpenForAppend(const std::string& path, std::string& error);

// Writes all `size` bytes; empty on success, else why it failed.
std::string WriteFully(int fd, const char* data, size_t size);

}  // namespace app
