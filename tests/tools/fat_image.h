// A small FAT12 diskette built in memory for the board's tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tools/fat12.h"

namespace boardsim_test {

struct TImageFile {
  const char* Name11;  // "NAME    EXT"
  uint32_t Size;
};

// 1.44 MB: 18 sectors, 2 heads, FATs at 1 and 10, root directory at 19.
inline std::vector<uint8_t> MakeFloppy(const std::vector<TImageFile>& files) {
  std::vector<uint8_t> img(1474560, 0);
  auto put16 = [&](size_t at, uint16_t v) {
    img[at] = static_cast<uint8_t>(v);
    img[at + 1] = static_cast<uint8_t>(v >> 8);
  };
  boardsim::WriteDisketteBootSector(img);
  for (size_t fat : {size_t{512}, size_t{10 * 512}}) {
    img[fat] = 0xF0;
    img[fat + 1] = 0xFF;
    img[fat + 2] = 0xFF;
  }
  size_t entry = 19 * 512;
  uint16_t cluster = 2;
  for (const auto& f : files) {
    std::memcpy(&img[entry], f.Name11, 11);
    img[entry + 11] = 0x20;
    put16(entry + 26, cluster);
    put16(entry + 28, static_cast<uint16_t>(f.Size));
    put16(entry + 30, static_cast<uint16_t>(f.Size >> 16));
    // One cluster per file, marked as the end of its chain in both FATs.
    for (size_t fat : {size_t{512}, size_t{10 * 512}}) {
      const size_t at = fat + cluster + cluster / 2;
      if (cluster & 1) {
        img[at] = static_cast<uint8_t>(img[at] | 0xF0);
        img[at + 1] = 0xFF;
      } else {
        img[at] = 0xFF;
        img[at + 1] = static_cast<uint8_t>(img[at + 1] | 0x0F);
      }
    }
    entry += 32;
    ++cluster;
  }
  return img;
}

}  // namespace boardsim_test
