// The target application of the simulated board: the scripted demo (banner,
// coloured boxes, directory of the served diskette, keyboard echo, screen
// refresh, Ctrl+Alt+Del) and the non-interactive scripts used by tests and
// benchmarks, which print one JSON object per run on the result stream.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tools/board_bios.h"
#include "tools/clock.h"
#include "tools/fat12.h"

namespace boardsim {

struct TAppConfig {
  std::chrono::milliseconds KeyPoll{10};          // pause after a check key found nothing
  std::chrono::milliseconds HandshakeRetry{500};  // pause between unanswered handshakes
  std::optional<std::chrono::milliseconds> Timeout;  // bound for the handshake and for keys
};

// Geometry used when the served image has no readable boot sector (1.44 MB).
inline constexpr uint16_t kDefaultSectorsPerTrack = 18;
inline constexpr uint16_t kDefaultHeads = 2;
inline constexpr uint32_t kDefaultTotalSectors = 2880;

class TBoardApp {
 public:
  TBoardApp(TBoardLink& link, IClock& clock, std::ostream& results, std::ostream& log,
            const TAppConfig& config = {});

  // The demo runs until the host goes away (returns 0) or the handshake times out (1).
  int RunDemo();
  // Scripts: 0 on success, 1 on failure; the result line goes to `results` either way.
  int ReadImage(const std::string& outPath);
  int WriteImage(const std::string& inPath);
  int Ping(unsigned count);
  int Keys(unsigned count);

  const TTextPage& Page() const { return PageModel; }
  TBoardBios& Bios() { return BiosCalls; }
  unsigned Boots() const { return BootCount; }

 private:
  struct TGeometry {
    uint16_t SectorsPerTrack = kDefaultSectorsPerTrack;
    uint16_t Heads = kDefaultHeads;
    uint32_t TotalSectors = kDefaultTotalSectors;
    bool FromBootSector = false;
  };

  // Handshakes until the console answers; false when the time-out passed.
  bool Boot();
  void NoiseBurstOnce();
  bool TimedOut(TClockTime start) const;
  // Reads `count` sectors from `lba` on, split at track ends.
  bool ReadLba(const TBootParams& p, uint32_t lba, uint32_t count, std::vector<uint8_t>& out);
  TGeometry ServedGeometry();
  TDiskResult TransferTrack(const TGeometry& g, uint32_t track, std::span<uint8_t> data,
                            bool write);

  // Demo pieces.
  void DrawDesktop();
  void DrawBox(int left, int top, int right, int bottom, uint8_t attr, const char* title);
  void ListDirectory();
  void EchoLoop();
  void EchoKey(uint16_t code);
  void EchoNewLine();

  void PrintLinkStats();

  TBoardLink* Link;
  IClock* Clock;
  std::ostream* Results;
  std::ostream* Log;
  TAppConfig Cfg;
  TTextPage PageModel;
  TBoardBios BiosCalls;
  unsigned BootCount = 0;
  bool NoiseDone = false;
};

}  // namespace boardsim
