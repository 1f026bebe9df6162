// Identification of arbitrary boot sectors, and opening images of arbitrary
// size and contents: identification, geometry, track buffer, addressing and
// the disk functions against the file.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstring>

#include "display/screen.h"
#include "floppy/boot_sector.h"
#include "floppy/disk_service.h"
#include "floppy/floppy_image.h"
#include "fuzz/memory_image.h"
#include "fuzz/silent_line.h"
#include "link/link.h"

namespace {

using fuzzing::TSilentLine;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::array<uint8_t, floppy::kBootSectorSize> sector{};
  std::memcpy(sector.data(), data, std::min(size, sector.size()));
  const floppy::TBootInfo info = floppy::IdentifyBootSector(sector.data());
  if (info.Identified && (info.BytesPerSector == 0 || info.SectorsPerTrack == 0 ||
                          info.HeadCount == 0))
    __builtin_trap();  // identified geometry must be able to address a sector

  // The whole input is the image file.
  fuzzing::TMemoryImage image(data, size);
  display::TScreen screen;
  floppy::TFloppy floppy(screen, [](const std::string&) {});
  floppy.TrackBufferLimit = size_t{1} << 20;
  FuzzedDataProvider input(data, size);
  if (!floppy.OpenImage(image.Path(), input.ConsumeBool())) return 0;
  floppy.AllocTrackBuffer();

  TSilentLine line;
  wire::TLink link(line, line);
  floppy::TDiskService disk(link, floppy);
  for (int i = 0; i < 8 && input.remaining_bytes() > 0; ++i) {
    (void)floppy.ChsToOffset(input.ConsumeIntegral<int16_t>(), input.ConsumeIntegral<int16_t>(),
                             input.ConsumeIntegral<int16_t>());
    link.Request.AX = input.ConsumeIntegral<uint16_t>();
    link.Request.BX = input.ConsumeIntegral<uint16_t>();
    link.Request.CX = input.ConsumeIntegral<uint16_t>();
    link.Request.DX = input.ConsumeIntegral<uint16_t>();
    disk.DiskFunction(floppy.HasTrackBuffer() ? floppy.TrackBuffer.data() : nullptr);
  }
  floppy.CloseImage();
  floppy.FreeTrackBuffer();
  return 0;
}
