// Shared helpers of the floppy tests: a temporary folder, image files built in
// code, and a floppy whose messages are captured.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "display/screen.h"
#include "floppy/floppy_image.h"

namespace floppytest {

using Bytes = std::vector<uint8_t>;

inline constexpr size_t kImage144 = 2880 * 512;

// A folder of its own, removed with everything in it.
class TTempDir {
 public:
  TTempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "floppy-test-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) != nullptr) Path = tmpl;
  }
  ~TTempDir() {
    std::error_code ec;
    if (!Path.empty()) std::filesystem::remove_all(Path, ec);
  }
  std::string File(const std::string& name) const {
    return (std::filesystem::path(Path) / name).string();
  }
  std::string Path;
};

inline void Put16(Bytes& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v & 0xFF);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

inline void PutText(Bytes& b, size_t at, const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) b[at + i] = static_cast<uint8_t>(text[i]);
}

// A boot sector with the given geometry and the FAT mark at its offset
// (54 for "FAT12"/"FAT16", 82 for "FAT32").
inline Bytes BootSector(const std::string& mark, uint16_t bytesPerSector = 512,
                        uint16_t total16 = 2880, uint16_t sectorsPerTrack = 18,
                        uint16_t heads = 2) {
  Bytes b(512, 0);
  b[0] = 0xEB;
  b[1] = 0x3C;
  b[2] = 0x90;
  PutText(b, 3, "MSDOS5.0");
  Put16(b, 11, bytesPerSector);
  b[13] = 1;        // sectors per cluster
  Put16(b, 14, 1);  // reserved sectors
  b[16] = 2;        // FAT count
  Put16(b, 19, total16);
  b[21] = 0xF0;
  Put16(b, 24, sectorsPerTrack);
  Put16(b, 26, heads);
  if (mark == "FAT32") {
    PutText(b, 82, "FAT32   ");
  } else if (!mark.empty()) {
    PutText(b, 54, mark + "   ");
  }
  b[510] = 0x55;
  b[511] = 0xAA;
  return b;
}

// The byte every image built here holds at `offset` outside its boot sector:
// differs from sector to sector and within a sector.
inline uint8_t Pattern(size_t offset) {
  return static_cast<uint8_t>((offset * 7) ^ (offset >> 9) ^ (offset >> 17));
}

// A 1.44 MB image: a FAT12 boot sector, then the pattern.
inline Bytes Image144(const Bytes& boot = BootSector("FAT12")) {
  Bytes image(kImage144);
  for (size_t i = 0; i < image.size(); ++i) image[i] = Pattern(i);
  std::copy(boot.begin(), boot.end(), image.begin());
  return image;
}

inline void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

inline Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A floppy whose messages land in Messages instead of on the screen.
struct TCapturedFloppy {
  display::TScreen Screen;
  std::vector<std::string> Messages;
  floppy::TFloppy Floppy{Screen, [this](const std::string& m) { Messages.push_back(m); }};
};

}  // namespace floppytest
