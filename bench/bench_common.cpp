#include "bench/bench_common.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "bench/fd_io.h"
#include "tools/fat12.h"

namespace bench {

double Since(TClock::time_point t0) {
  return std::chrono::duration<double>(TClock::now() - t0).count();
}

std::vector<uint8_t> MakeImage() {
  std::vector<uint8_t> img(kImageBytes);
  uint32_t x = 0x9E3779B9u;
  for (auto& b : img) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x);
  }
  const uint8_t jump[3] = {0xEB, 0x3C, 0x90};
  std::memcpy(img.data(), jump, 3);
  std::memcpy(img.data() + 3, "MSWIN4.1", 8);
  boardsim::WriteDisketteBootSector(img);
  return img;
}

TPtyPair::TPtyPair(bool openSlave) {
  Master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (Master < 0 || ::grantpt(Master) != 0 || ::unlockpt(Master) != 0) return;
  char name[256];
  if (::ptsname_r(Master, name, sizeof name) != 0) return;
  SlavePath = name;
  if (openSlave) {
    Slave = ::open(name, O_RDWR | O_NOCTTY);
    MakeRawNonBlocking(Slave);
  } else {
    // Raw before another program opens it; the master never sees a hang-up meanwhile.
    const int s = ::open(name, O_RDWR | O_NOCTTY);
    MakeRawNonBlocking(s);
    Slave = -1;
    KeepOpen = s;
  }
  MakeRawNonBlocking(Master);
}

TPtyPair::~TPtyPair() {
  if (Slave >= 0) ::close(Slave);
  if (KeepOpen >= 0) ::close(KeepOpen);
  if (Master >= 0) ::close(Master);
}

std::vector<double> TimeCheckKeys(TBareBoard& board, int warmup, int count) {
  std::vector<double> micros;
  for (int i = 0; i < warmup + count; ++i) {
    const auto t0 = TClock::now();
    if (!board.CheckKey()) {
      std::fprintf(stderr, "bench: check-key round trip %d failed\n", i);
      return {};
    }
    if (i >= warmup) micros.push_back(Since(t0) * 1e6);
  }
  return micros;
}

double TimeRead(TBareBoard& board, uint32_t tracks, const std::vector<uint8_t>& image) {
  std::vector<uint8_t> got(size_t{tracks} * kTrackBytes);
  const auto t0 = TClock::now();
  for (uint32_t t = 0; t < tracks; ++t) {
    if (!board.ReadTrack(t, got.data() + size_t{t} * kTrackBytes)) {
      std::fprintf(stderr, "bench: reading track %u failed\n", t);
      return -1;
    }
  }
  const double s = Since(t0);
  if (std::memcmp(got.data(), image.data(), got.size()) != 0) {
    std::fprintf(stderr, "bench: the image read differs from the file\n");
    return -1;
  }
  return s;
}

void Row(const char* figure, const std::string& measured, const std::string& baseline,
         const std::string& target, const char* result) {
  std::printf("| %s | %s | %s | %s | %s |\n", figure, measured.c_str(), baseline.c_str(),
              target.c_str(), result);
  std::fflush(stdout);
}

std::string Fmt(const char* format, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

const char* Verdict(bool ok) { return ok ? "PASS" : "MISS"; }

}  // namespace bench
