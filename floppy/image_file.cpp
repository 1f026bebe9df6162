#include "floppy/image_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace floppy {

namespace {

int SystemOpen(const char* path, int flags) { return ::open(path, flags); }

constexpr int kRetryReadOnlyErrors[] = {EACCES, EROFS, EPERM};

}  // namespace

bool ShouldRetryReadOnly(int error) {
  for (int e : kRetryReadOnlyErrors) {
    if (e == error) return true;
  }
  return false;
}

TOpenOutcome TImageFile::Open(const std::string& name, bool readOnly,
                              const TOpenFunction& openFunction) {
  Close();
  const TOpenFunction& doOpen = openFunction ? openFunction : TOpenFunction(SystemOpen);
  // O_NONBLOCK: a FIFO or a device must not hang the open; it is refused below.
  const int common = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  bool readOnlyNow = readOnly;
  int fd = doOpen(name.c_str(), common | (readOnly ? O_RDONLY : O_RDWR));
  if (fd < 0 && !readOnly && ShouldRetryReadOnly(errno)) {
    fd = doOpen(name.c_str(), common | O_RDONLY);
    readOnlyNow = true;
  }
  if (fd < 0) {
    LastError = errno;
    return TOpenOutcome::ooFailed;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    LastError = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    ::close(fd);
    return TOpenOutcome::ooFailed;
  }
  const int fl = ::fcntl(fd, F_GETFL);
  if (fl >= 0) (void)::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
  Fd = fd;
  IsReadOnly = readOnlyNow;
  return readOnlyNow && !readOnly ? TOpenOutcome::ooOpenedReadOnly : TOpenOutcome::ooOpened;
}

bool TImageFile::ReadAt(int64_t offset, uint8_t* data, size_t n) {
  if (Fd < 0 || offset < 0) {
    LastError = EBADF;
    return false;
  }
  size_t done = 0;
  while (done < n) {
    const ssize_t r =
        ::pread(Fd, data + done, n - done, static_cast<off_t>(offset + static_cast<int64_t>(done)));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      LastError = r == 0 ? 0 : errno;
      return false;
    }
    done += static_cast<size_t>(r);
  }
  return true;
}

bool TImageFile::WriteAt(int64_t offset, const uint8_t* data, size_t n) {
  if (Fd < 0 || offset < 0 || IsReadOnly) {
    LastError = EBADF;
    return false;
  }
  size_t done = 0;
  while (done < n) {
    const ssize_t w = ::pwrite(Fd, data + done, n - done,
                               static_cast<off_t>(offset + static_cast<int64_t>(done)));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      LastError = w == 0 ? EIO : errno;
      return false;
    }
    done += static_cast<size_t>(w);
  }
  return true;
}

bool TImageFile::Flush() {
  if (Fd < 0) return false;
  if (IsReadOnly) return true;
  if (::fdatasync(Fd) != 0 && errno != EINVAL) {
    LastError = errno;
    return false;
  }
  return true;
}

int64_t TImageFile::Size() const {
  struct stat st {};
  if (Fd < 0 || ::fstat(Fd, &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

void TImageFile::Close() {
  if (Fd < 0) return;
  if (!IsReadOnly) (void)::fsync(Fd);
  ::close(Fd);
  Fd = -1;
  IsReadOnly = false;
}

}  // namespace floppy
