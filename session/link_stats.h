// What happened on the link during one connection, counted from the link's
// events: requests by service, replies, blocks, NAKs, resends, what was given
// up, aborts and noise; and, noted by the session, lost ports and dropped keys.
// The session resets the counts at every Connect.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "link/link_observer.h"
#include "session/trace_decode.h"

namespace app {

struct TLinkCounts {
  std::array<uint64_t, kServiceSlots> Requests{};  // good requests, by ServiceSlot
  uint64_t Replies = 0;         // replies sent (resends not counted)
  uint64_t BlocksReceived = 0;  // good data blocks from the board
  uint64_t BlocksSent = 0;      // data blocks to the board (resends not counted)
  uint64_t NaksSent = 0;        // 0xAA answered to a bad packet
  uint64_t NaksReceived = 0;    // packets the board refused
  uint64_t Resends = 0;         // packets sent again after a refusal
  uint64_t DroppedRequests = 0; // requests bad three times
  uint64_t GivenUp = 0;         // replies or blocks given up after three tries
  uint64_t WatchdogAborts = 0;
  uint64_t DisconnectAborts = 0;
  uint64_t NoiseBytes = 0;      // bytes skipped before a 0x77, or dropped after a refused block
  uint64_t LostPort = 0;        // the port went away under the connection
  uint64_t DroppedKeys = 0;     // keys pushed while the key queue was full

  uint64_t AllRequests() const;
  // Events that mean trouble on the line: NAKs either way, drops, watchdog aborts, lost ports.
  uint64_t Errors() const;
};

// The counts by the names the control protocol gives them ("naksSent", ...);
// the requests go by service.
struct TLinkCountName {
  const char* Name;
  uint64_t TLinkCounts::*Field;
};
inline constexpr TLinkCountName kLinkCountNames[] = {
    {"replies", &TLinkCounts::Replies},
    {"blocksReceived", &TLinkCounts::BlocksReceived},
    {"blocksSent", &TLinkCounts::BlocksSent},
    {"naksSent", &TLinkCounts::NaksSent},
    {"naksReceived", &TLinkCounts::NaksReceived},
    {"resends", &TLinkCounts::Resends},
    {"droppedRequests", &TLinkCounts::DroppedRequests},
    {"givenUp", &TLinkCounts::GivenUp},
    {"watchdogAborts", &TLinkCounts::WatchdogAborts},
    {"disconnectAborts", &TLinkCounts::DisconnectAborts},
    {"noiseBytes", &TLinkCounts::NoiseBytes},
    {"portLost", &TLinkCounts::LostPort},
    {"droppedKeys", &TLinkCounts::DroppedKeys},
};

class TLinkStats : public wire::ILinkObserver {
 public:
  void Reset() { Counts = {}; }
  void NotePortLost() { ++Counts.LostPort; }
  void NoteDroppedKey() { ++Counts.DroppedKeys; }

  void NoiseSkipped(uint32_t count) override { Counts.NoiseBytes += count; }
  void UnreadDiscarded(uint32_t count) override { Counts.NoiseBytes += count; }
  void PacketReceived(const uint8_t* bytes, size_t n, wire::TRxVerdict verdict, uint8_t answer) override;
  void PacketSent(const uint8_t* bytes, size_t n, int attempt) override;
  void AnswerReceived(uint8_t answer) override;
  void GaveUp(wire::TGiveUp what) override;
  void Aborted(wire::TAbortReason why) override;

  TLinkCounts Counts;
};

// Every count, a line each (the window's tool tip, the trace at Disconnect,
// the "Link statistics" dialog). No line feed after the last line.
std::string FormatStats(const TLinkCounts& c);
// The counts that are not 0, with short names (the terminal's `i`): the
// requests by service first, then one item per count.
std::vector<std::string> FormatStatsItems(const TLinkCounts& c);
// The same items on one line, joined by " | ".
std::string FormatStatsLine(const TLinkCounts& c);
// A word for the terminal's status line: "1234 req" or "1234 req 5 err";
// empty before the first request.
std::string FormatStatsWord(const TLinkCounts& c);

}  // namespace app
