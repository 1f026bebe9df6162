// The image file on the host: a regular file opened for update (or read-only),
// read and written in place at byte offsets. Writes go straight to the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace floppy {

// The open(2) the image file uses; replaceable so that tests can play refusals
// (EACCES, EROFS...) that root never sees. Returns a descriptor or -1 with errno.
using TOpenFunction = std::function<int(const char* path, int flags)>;

enum class TOpenOutcome : uint8_t {
  ooOpened,          // as asked
  ooOpenedReadOnly,  // asked for update, refused by permissions: opened read-only
  ooFailed,          // missing, not a regular file, locked by another program, or any other refusal
};

// True for the errors of an update open that a read-only open may get past:
// file permissions, a read-only file system, an immutable file.
bool ShouldRetryReadOnly(int error);

// The reason of a failed open or protection change for the user: the system's
// text, or for a lock held elsewhere what that means here.
std::string ImageErrorText(int error);

class TImageFile {
 public:
  TImageFile() = default;
  ~TImageFile() { Close(); }
  TImageFile(const TImageFile&) = delete;
  TImageFile& operator=(const TImageFile&) = delete;

  // Opens `name` for reading and writing (or only reading when `readOnly`),
  // without blocking on FIFOs or devices; anything but a regular file is
  // refused. The file is locked while it is open (flock): exclusively when
  // writable, shared when read-only; a file another program holds a lock on
  // that conflicts is refused (LastError EWOULDBLOCK).
  // Closes a file already open first.
  TOpenOutcome Open(const std::string& name, bool readOnly, const TOpenFunction& openFunction = {});

  bool IsOpen() const { return Fd >= 0; }
  bool ReadOnly() const { return IsReadOnly; }
  const std::string& Name() const { return FileName; }

  // Write protection while open. On: writes are refused from now on and the
  // lock becomes shared. Off: the file must be writable and nobody else may
  // hold a lock on it; a file opened read-only is opened again for update.
  // False (with LastError) when protection could not be taken off; the file
  // then stays open and protected.
  bool SetWriteProtect(bool on, const TOpenFunction& openFunction = {});

  // Whether `name` is the very file open now (same device and inode).
  bool IsSameFile(const std::string& name) const;

  // Exchanges the open files of two images (a change of image that may be undone).
  void Swap(TImageFile& other) noexcept;

  // Reads exactly n bytes at offset; false on an error or the end of the file.
  bool ReadAt(int64_t offset, uint8_t* data, size_t n);
  // Writes exactly n bytes at offset; false on an error or a read-only file.
  bool WriteAt(int64_t offset, const uint8_t* data, size_t n);
  // Hands what was written to the storage; false on an error.
  bool Flush();
  // The file's size in bytes now, or -1.
  int64_t Size() const;
  // Syncs and closes; does nothing when no file is open.
  void Close();

  // errno of the last failed operation.
  int LastError = 0;

 private:
  int Fd = -1;
  bool IsReadOnly = false;
  bool Writable = false;  // the descriptor was opened for update
  std::string FileName;
};

}  // namespace floppy
