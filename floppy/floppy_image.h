// The board's floppy drive: one image file, its identification and geometry,
// and the track buffer through which the disk services move sectors. The
// host's messages about it go to the remote screen.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "floppy/boot_sector.h"
#include "floppy/image_file.h"

namespace display {
class TScreen;
}

namespace floppy {

// The size of every sector the disk services move.
inline constexpr uint32_t kSectorSize = 512;

// The drive the board is told about (drive parameters): a 1.44 MB diskette.
inline constexpr int64_t kDriveBytes = 2880 * 512;
inline constexpr uint32_t kDriveSectorsPerTrack = 18;
inline constexpr uint32_t kDriveHeads = 2;

// The image in service as the user sees it.
struct TImageStatus {
  std::string Name;     // empty: no image in service
  bool ReadOnly = false;
  std::string Message;  // the last image message, with its reason
  bool Trouble = false; // the message is a failure or a warning
};

class TFloppy {
 public:
  // Where a finished message line goes; by default into the screen's ConPrintf.
  using TMessageSink = std::function<void(const std::string&)>;

  explicit TFloppy(display::TScreen& screen, TMessageSink sink = {});

  // Opens the image (for update unless `readOnly`) and identifies it. A file
  // that may not be written is opened read-only with a note. A missing,
  // non-regular or locked file leaves no image; an unidentified one is served
  // with the geometry in force; one whose sectors are not 512 bytes is closed.
  // An image that is no 1.44 MB diskette is served with a warning.
  // True when an image is open afterwards.
  bool OpenImage(const std::string& name, bool readOnly);
  // Another diskette while connected (between two requests): opens and
  // identifies `name` as OpenImage does and, when it can be served, closes the
  // old image and marks the diskette changed for the next disk-change call.
  // An image that cannot be served leaves the old one in service (false), and
  // so does a file without a FAT boot sector (a text file, an empty file),
  // which OpenImage would serve: OnChangeRefused then says why in one line.
  bool ChangeImage(const std::string& name, bool readOnly);
  // Write protection of the image in service (nothing to do without one).
  // False when protection could not be taken off; the image stays protected.
  bool SetWriteProtect(bool on);
  // Asked for by the user at any time; applied by ApplyPending, which the
  // service loop runs between two requests, so that no request sees half of
  // one image and half of the other.
  void RequestImage(const std::string& name) { PendingImage = name; }
  void RequestWriteProtect(bool on);
  void ApplyPending();
  void DropPending();
  TImageStatus Status() const { return {ImageFile.Name(), ReadOnly, LastMessage, Trouble}; }
  // Reads the boot sector and, when it carries a FAT mark and a usable
  // geometry, prints the geometry; the geometry is taken over when the
  // sectors are 512 bytes. Marks the screen dirty whenever an image is open.
  bool IdentifyImage();
  // A buffer of SectorsPerTrack x BytesPerSector bytes.
  bool AllocTrackBuffer();
  void CloseImage();
  void FreeTrackBuffer();
  // ((cylinder x HeadCount + head) x SectorsPerTrack + sector - 1) x BytesPerSector.
  int32_t ChsToOffset(int16_t cylinder, int16_t head, int16_t sector) const;

  bool HasImage() const { return ImageFile.IsOpen(); }
  bool HasTrackBuffer() const { return !TrackBuffer.empty(); }

  // printf-style message through the sink; also handed to OnImageMessage.
  void Print(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // printf-style text of any length.
  static std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

  // Every message as one line without its line end, the reason added where
  // the screen's text has none (the session writes them to standard error).
  std::function<void(const std::string&)> OnImageMessage;
  // A change of image that was refused, in one line with what stays in service:
  // "text.txt: no FAT boot sector (19 bytes); still serving good.img".
  std::function<void(const std::string&)> OnChangeRefused;
  std::string LastMessage;
  bool Trouble = false;  // LastMessage is a failure or a warning
  // The diskette was changed since the board last asked (disk-change call).
  bool DiskChanged = false;

  TImageFile ImageFile;
  bool ReadOnly = false;
  // The user's wish: images are opened read-only (--read-only, the menu toggle).
  bool WriteProtect = false;
  std::optional<std::string> PendingImage;
  std::optional<bool> PendingProtect;
  // Geometry: the defaults are a 1.44 MB diskette; only a successful
  // identification changes them, and nothing resets them.
  uint32_t BytesPerSector = 512;
  uint32_t HeadCount = 2;
  uint32_t SectorsPerTrack = 18;
  std::array<uint8_t, kBootSectorSize> BootSector{};
  std::vector<uint8_t> TrackBuffer;
  // Set from the window's hidden Log button: unsupported disk functions are printed.
  uint8_t DiskLog = 0;
  // The open(2) used by OpenImage (empty: the system's).
  TOpenFunction OpenFunction;
  // Largest track buffer AllocTrackBuffer will ask for (the out-of-memory path).
  size_t TrackBufferLimit = size_t{64} << 20;

 private:
  // OpenImage; with `refuseUnidentified`, a file without a FAT boot sector is
  // closed again with one message instead of being served.
  bool Open(const std::string& name, bool readOnly, bool refuseUnidentified);
  // Whether the first sector of the open file identifies it (nothing printed).
  bool HasFatBootSector();
  // `text` to the screen; the line (with ": reason" when given) to the observer.
  void Emit(const std::string& text, const std::string& reason);
  // A line for the observer only, not for the board's screen.
  void Note(const std::string& line, bool trouble);
  void WarnIfNotTheDrive();

  display::TScreen& Screen;
  TMessageSink Sink;
};

}  // namespace floppy
