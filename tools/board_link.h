// The board's end of the serial link: sends requests and data blocks and waits
// for the host's acknowledgement, reads the host's replies and blocks and
// acknowledges them, with time-outs and retries, over one file descriptor.
// The line's faults (fault_injector.h) and speed (pacer.h) are applied here, to
// what the board writes and to what it reads.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>

#include "link/packets.h"
#include "tools/clock.h"
#include "tools/fault_injector.h"
#include "tools/pacer.h"

namespace boardsim {

// The host has gone: the device was closed or the console process ended.
class TLinkClosed : public std::runtime_error {
 public:
  TLinkClosed() : std::runtime_error("the host closed the line") {}
};

// The program was asked to stop (SIGTERM, SIGINT) during a wait.
class TStopRequested : public std::runtime_error {
 public:
  TStopRequested() : std::runtime_error("asked to stop") {}
};

enum class TLinkStatus {
  Ok,
  Refused,  // the host answered 0xAA (or anything but 0x55) to every try
  Timeout,  // nothing usable arrived in time
  Bad,      // packets arrived but their checksums failed on every try
};

const char* LinkStatusName(TLinkStatus s);

struct TLinkConfig {
  std::chrono::milliseconds AckTimeout{500};  // wait for an acknowledgement or a packet
  int Tries = 3;                              // sends (or reads) per packet
  TNanos StallTime = std::chrono::milliseconds(2500);  // longer than the host's 2 s watchdog
  uint32_t ChunkBytes = 64;  // paced writes are split into chunks of this size
  // The host may close its end and open it again (a pty the board offers):
  // while it is away, what the board writes is lost and nothing arrives, as on
  // a cable with nobody at the other end, instead of the link ending.
  bool HostMayLeave = false;
};

struct TLinkStats {
  uint64_t RequestsSent = 0;
  uint64_t Resends = 0;       // packets the board sent again
  uint64_t NaksSent = 0;      // 0xAA sent by the board
  uint64_t NaksReceived = 0;  // 0xAA (or other refusal) received
  uint64_t Timeouts = 0;
  uint64_t BytesSent = 0;
  uint64_t BytesReceived = 0;
  uint64_t Replugs = 0;         // pty pairs replaced under the line's name
  int64_t ReplugReopenMs = -1;  // how long the host took to open the last new pair (-1: never)
};

class TBoardLink {
 public:
  TBoardLink(int fd, IClock& clock, TPacer& pacer, TFaultInjector& faults,
             const TLinkConfig& config = {});

  // Called during every wait; returning false means the host has gone.
  void SetHostAlive(std::function<bool()> alive) { HostAlive = std::move(alive); }
  // Called during every wait too; returning true ends it with TStopRequested.
  void SetStopRequested(std::function<bool()> stop) { StopRequested = std::move(stop); }
  // Called before every write: false means nobody has the line open and the
  // bytes are lost (a pty the board offers, see TPtyLine::HostListening).
  void SetHostListening(std::function<bool()> listening) { HostListening = std::move(listening); }
  // Called before every request the board sends (with the count sent so far).
  void SetBeforeRequest(std::function<void(uint64_t sent)> hook) { BeforeRequest = std::move(hook); }
  // The line now runs over another descriptor (a replugged adapter).
  void SetFd(int fd) {
    Fd = fd;
    Rx.clear();
  }

  // Seals and sends a request, waiting for its acknowledgement; sends again
  // after a refusal or silence, up to Tries sends.
  TLinkStatus SendRequest(wire::TRequestPacket request);
  // Reads the host's reply and acknowledges it (0x55 good, 0xAA bad or cut off).
  TLinkStatus ReadReply(wire::TReplyPacket& reply);
  // Reads one data block from the host, acknowledged the same way.
  TLinkStatus ReadBlock(wire::TSectorBlock& block);
  // Sends 512 bytes as a data block, waiting for the host's acknowledgement.
  TLinkStatus SendBlock(std::span<const uint8_t, wire::kBlockDataSize> data);

  // Writes n bytes of noise (not a packet) at line speed.
  void SendNoise(std::span<const uint8_t> noise);
  // Discards input until the line has been quiet for `quiet` (or `limit` passed).
  void DrainUntilQuiet(std::chrono::milliseconds quiet, std::chrono::milliseconds limit);
  // Discards what has already arrived, without waiting.
  void DiscardPending();

  // Stays silent for the stall time (the host's watchdog runs out meanwhile).
  void Silence(TNanos d) { Clock->SleepFor(d); }

  const TLinkStats& Stats() const { return Counters; }
  // A replug: the time the host took to open the new pair (-1: it did not).
  void NoteReplug(int64_t reopenMs) {
    ++Counters.Replugs;
    Counters.ReplugReopenMs = reopenMs;
  }
  const TLinkConfig& Config() const { return Cfg; }
  TFaultInjector& Faults() { return *FaultsRef; }

 private:
  using TDeadline = std::chrono::steady_clock::time_point;
  enum class TAnswer { Ack, Refusal, Silence };

  void Write(std::span<const uint8_t> bytes, bool isPacket);
  void WriteRaw(std::span<const uint8_t> bytes);
  void SendByte(uint8_t b);
  // Next byte off the line, or nothing when the deadline passes.
  std::optional<uint8_t> ReadByte(TDeadline deadline);
  // Fills Rx from the descriptor, waiting at most until the deadline.
  bool Fill(TDeadline deadline);
  TAnswer WaitAnswer();
  TLinkStatus SendPacket(std::span<const uint8_t> packet);
  TLinkStatus ReadPacket(std::span<uint8_t> packet);
  void CheckAlive();

  int Fd;
  IClock* Clock;
  TPacer* Pacer;
  TPacer RxPacer;  // the other direction of the line: the host's bytes arrive no faster
  TFaultInjector* FaultsRef;
  TLinkConfig Cfg;
  TLinkStats Counters;
  std::function<bool()> HostAlive;
  std::function<bool()> StopRequested;
  std::function<bool()> HostListening;
  std::function<void(uint64_t)> BeforeRequest;
  std::deque<uint8_t> Rx;
};

}  // namespace boardsim
