// A diskette image in memory (memfd) that the floppy code opens by name, so
// every fuzz run starts from fresh contents and leaves nothing on disk.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzing {

class TMemoryImage {
 public:
  TMemoryImage(const uint8_t* data, size_t size) {
    Fd = ::memfd_create("fuzz-image", MFD_CLOEXEC);
    size_t put = 0;
    while (Fd >= 0 && put < size) {
      const ssize_t w = ::write(Fd, data + put, size - put);
      if (w <= 0) break;
      put += static_cast<size_t>(w);
    }
  }
  ~TMemoryImage() {
    if (Fd >= 0) ::close(Fd);
  }
  TMemoryImage(const TMemoryImage&) = delete;
  TMemoryImage& operator=(const TMemoryImage&) = delete;

  std::string Path() const { return "/proc/self/fd/" + std::to_string(Fd); }

 private:
  int Fd = -1;
};

}  // namespace fuzzing
