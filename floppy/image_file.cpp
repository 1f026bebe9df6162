#include "floppy/image_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace floppy {

namespace {

int SystemOpen(const char* path, int flags) { return ::open(path, flags); }

constexpr int kRetryReadOnlyErrors[] = {EACCES, EROFS, EPERM};

constexpr int kOpenFlags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

// Takes the lock without waiting. False only when another program holds a
// conflicting one; a file system without flock serves the file unlocked.
bool Lock(int fd, int operation) {
  while (::flock(fd, operation | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    return errno != EWOULDBLOCK;
  }
  return true;
}

// The descriptor blocks again once open (O_NONBLOCK only kept a FIFO from hanging the open).
void ClearNonBlock(int fd) {
  const int fl = ::fcntl(fd, F_GETFL);
  if (fl >= 0) (void)::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
}

}  // namespace

std::string ImageErrorText(int error) {
  if (error == EWOULDBLOCK) return "in use: another program holds a lock on it";
  return std::strerror(error);
}

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
  bool readOnlyNow = readOnly;
  int fd = doOpen(name.c_str(), kOpenFlags | (readOnly ? O_RDONLY : O_RDWR));
  if (fd < 0 && !readOnly && ShouldRetryReadOnly(errno)) {
    fd = doOpen(name.c_str(), kOpenFlags | O_RDONLY);
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
  // A second console, or any program that locks the file, must not write
  // under the board's feet; nor may this console while another one serves it.
  if (!Lock(fd, readOnlyNow ? LOCK_SH : LOCK_EX)) {
    LastError = EWOULDBLOCK;
    ::close(fd);
    return TOpenOutcome::ooFailed;
  }
  ClearNonBlock(fd);
  Fd = fd;
  IsReadOnly = readOnlyNow;
  Writable = !readOnlyNow;
  FileName = name;
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
  if (Writable) (void)::fsync(Fd);
  ::close(Fd);  // releases the lock
  Fd = -1;
  IsReadOnly = false;
  Writable = false;
  FileName.clear();
}

bool TImageFile::SetWriteProtect(bool on, const TOpenFunction& openFunction) {
  if (Fd < 0) {
    LastError = EBADF;
    return false;
  }
  if (on) {
    IsReadOnly = true;
    (void)Lock(Fd, LOCK_SH);  // a downgrade: nobody can hold a conflicting lock
    return true;
  }
  if (!IsReadOnly) return true;
  // Converting a lock may drop the old one first: take the shared one back on failure.
  if (!Lock(Fd, LOCK_EX)) {
    (void)Lock(Fd, LOCK_SH);
    LastError = EWOULDBLOCK;
    return false;
  }
  if (Writable) {
    IsReadOnly = false;
    return true;
  }
  // Opened read-only: open the same file again for update.
  const TOpenFunction& doOpen = openFunction ? openFunction : TOpenFunction(SystemOpen);
  const int fd = doOpen(FileName.c_str(), kOpenFlags | O_RDWR);
  if (fd < 0) {
    LastError = errno;
    (void)Lock(Fd, LOCK_SH);
    return false;
  }
  struct stat now {};
  struct stat was {};
  if (::fstat(fd, &now) != 0 || ::fstat(Fd, &was) != 0 || now.st_dev != was.st_dev ||
      now.st_ino != was.st_ino) {
    // The name now leads to another file: not the image in service.
    LastError = ESTALE;
    ::close(fd);
    (void)Lock(Fd, LOCK_SH);
    return false;
  }
  ClearNonBlock(fd);
  ::close(Fd);
  Fd = fd;
  Writable = true;
  if (!Lock(Fd, LOCK_EX)) {
    // Another program took the file in the moment between: stay protected.
    (void)Lock(Fd, LOCK_SH);
    LastError = EWOULDBLOCK;
    return false;
  }
  IsReadOnly = false;
  return true;
}

bool TImageFile::IsSameFile(const std::string& name) const {
  struct stat open {};
  struct stat named {};
  if (Fd < 0 || ::fstat(Fd, &open) != 0 || ::stat(name.c_str(), &named) != 0) return false;
  return open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

void TImageFile::Swap(TImageFile& other) noexcept {
  std::swap(Fd, other.Fd);
  std::swap(IsReadOnly, other.IsReadOnly);
  std::swap(Writable, other.Writable);
  std::swap(FileName, other.FileName);
  std::swap(LastError, other.LastError);
}

}  // namespace floppy
