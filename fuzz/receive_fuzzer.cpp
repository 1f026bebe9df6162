// The receive path end to end: arbitrary byte streams and events through
// CommRxChar, the ring, ReadPacket and the service loop with every service
// installed (keyboard, disk on a small image, video, upload, handshake).
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstring>

#include "display/screen.h"
#include "floppy/disk_service.h"
#include "floppy/floppy_image.h"
#include "fuzz/fuzz_line.h"
#include "fuzz/memory_image.h"
#include "keyboard/keyboard.h"
#include "keyboard/keyboard_service.h"
#include "link/link.h"
#include "session/service_loop.h"

namespace {

class TNoStatus : public app::IStatusSink {
 public:
  void ShowStatus(const char*) override {}
};

// Two cylinders of a FAT12 diskette with 9 sectors per track and 2 heads.
std::array<uint8_t, 36 * 512> MakeSmallImage() {
  std::array<uint8_t, 36 * 512> img{};
  for (size_t i = 512; i < img.size(); ++i) img[i] = static_cast<uint8_t>(i * 31 + (i >> 9));
  img[11] = 0x00;
  img[12] = 0x02;  // 512 bytes per sector
  img[19] = 36;    // total sectors
  img[24] = 9;     // sectors per track
  img[26] = 2;     // heads
  std::memcpy(img.data() + 54, "FAT12   ", 8);
  return img;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const auto kImage = MakeSmallImage();
  FuzzedDataProvider input(data, size);
  keyboard::TKeyboard keys;
  fuzzing::TFuzzLine line(input, keys);
  wire::TLink link(line, line);
  line.Attach(&link);
  display::TScreen screen;
  TNoStatus status;
  app::TServiceLoop loop(link, screen, status);

  fuzzing::TMemoryImage image(kImage.data(), kImage.size());
  floppy::TFloppy floppy(screen, [](const std::string&) {});
  floppy.OpenImage(image.Path(), false);
  floppy.AllocTrackBuffer();

  loop.OptionBits = app::kOptionKeyboard | app::kOptionVideo | app::kOptionFloppy;
  loop.SetHandler(app::kServiceKeyboard, [&] { keyboard::KeyboardService(link, keys); });
  loop.SetHandler(app::kServiceDisk, [&] { floppy::DiskService(link, floppy); });
  loop.Maincycle();

  floppy.CloseImage();
  floppy.FreeTrackBuffer();
  return 0;
}
