// What the benchmark programs share: the diskette they read, a pty pair for
// the bare baselines, the timed exchanges, and the rows of the results table.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "bench/bare_board.h"

namespace bench {

using TClock = std::chrono::steady_clock;

inline constexpr size_t kImageBytes = size_t{kTracks} * kTrackBytes;

double Since(TClock::time_point t0);

// A FAT12 1.44 MB diskette: a boot sector with its geometry, then bytes that
// differ from sector to sector so that a misplaced block shows.
std::vector<uint8_t> MakeImage();

// A pty pair for the bare baselines: master for the board, slave for the host.
struct TPtyPair {
  int Master = -1;
  int Slave = -1;
  std::string SlavePath;
  int KeepOpen = -1;  // the slave held open (without openSlave) so the master never sees a hang-up
  // `openSlave` false: the slave is left for another program to open.
  explicit TPtyPair(bool openSlave = true);
  ~TPtyPair();
  TPtyPair(const TPtyPair&) = delete;
  TPtyPair& operator=(const TPtyPair&) = delete;
};

// Microseconds of each of `count` check-key round trips after `warmup`; empty on failure.
std::vector<double> TimeCheckKeys(TBareBoard& board, int warmup, int count);
// Seconds to read `tracks` tracks, checked against the image; negative on failure.
double TimeRead(TBareBoard& board, uint32_t tracks, const std::vector<uint8_t>& image);

// One row of the results table.
void Row(const char* figure, const std::string& measured, const std::string& baseline,
         const std::string& target, const char* result);
std::string Fmt(const char* format, double v);
const char* Verdict(bool ok);

}  // namespace bench
