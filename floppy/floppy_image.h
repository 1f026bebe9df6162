// The board's floppy drive: one image file, its identification and geometry,
// and the track buffer through which the disk services move sectors. The
// host's messages about it go to the remote screen.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
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

class TFloppy {
 public:
  // Where a finished message line goes; by default into the screen's ConPrintf.
  using TMessageSink = std::function<void(const std::string&)>;

  explicit TFloppy(display::TScreen& screen, TMessageSink sink = {});

  // Opens the image (for update unless `readOnly`) and identifies it. A file
  // that may not be written is opened read-only with a note. A missing or
  // non-regular file leaves no image; an unidentified one is served with the
  // geometry in force; one whose sectors are not 512 bytes is closed.
  // True when an image is open afterwards.
  bool OpenImage(const std::string& name, bool readOnly);
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

  // printf-style message through the sink.
  void Print(const char* format, ...) __attribute__((format(printf, 2, 3)));

  TImageFile ImageFile;
  bool ReadOnly = false;
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
  display::TScreen& Screen;
  TMessageSink Sink;
};

}  // namespace floppy
