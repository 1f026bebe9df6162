#include "session/link_stats.h"

#include <cstddef>
#include <numeric>

#include "link/packets.h"

namespace app {

uint64_t TLinkCounts::AllRequests() const { return std::accumulate(Requests.begin(), Requests.end(), uint64_t{0}); }

uint64_t TLinkCounts::Errors() const {
  return NaksSent + NaksReceived + DroppedRequests + GivenUp + WatchdogAborts + LostPort;
}

void TLinkStats::PacketReceived(const uint8_t* bytes, size_t n, wire::TRxVerdict verdict, uint8_t) {
  if (verdict != wire::TRxVerdict::Good) {
    ++Counts.NaksSent;
  } else if (n == wire::kRequestSize) {
    ++Counts.Requests[ServiceSlot(bytes[offsetof(wire::TRequestPacket, Service)])];
  } else {
    ++Counts.BlocksReceived;
  }
}

void TLinkStats::PacketSent(const uint8_t*, size_t n, int attempt) {
  if (attempt > 1) {
    ++Counts.Resends;
  } else if (n == wire::kReplySize) {
    ++Counts.Replies;
  } else {
    ++Counts.BlocksSent;
  }
}

void TLinkStats::AnswerReceived(uint8_t answer) {
  if (answer != wire::kAck) ++Counts.NaksReceived;
}

void TLinkStats::GaveUp(wire::TGiveUp what) {
  if (what == wire::TGiveUp::Request) {
    ++Counts.DroppedRequests;
  } else {
    ++Counts.GivenUp;
  }
}

void TLinkStats::Aborted(wire::TAbortReason why) {
  // An exchange cut by a lost port is counted with the lost port itself.
  if (why == wire::TAbortReason::Watchdog) {
    ++Counts.WatchdogAborts;
  } else if (why == wire::TAbortReason::Disconnect) {
    ++Counts.DisconnectAborts;
  }
}

namespace {

std::string Num(uint64_t n) { return std::to_string(n); }

// Each count with its label in the statistics text and its short name on one line.
struct TStatLine {
  const char* Label;
  const char* Short;
  uint64_t TLinkCounts::*Count;
};
constexpr TStatLine kStatLines[] = {
    {"Replies sent", "rep", &TLinkCounts::Replies},
    {"Blocks received", "blk in", &TLinkCounts::BlocksReceived},
    {"Blocks sent", "blk out", &TLinkCounts::BlocksSent},
    {"NAKs sent", "NAK out", &TLinkCounts::NaksSent},
    {"NAKs received", "NAK in", &TLinkCounts::NaksReceived},
    {"Resends", "resent", &TLinkCounts::Resends},
    {"Dropped requests", "dropped", &TLinkCounts::DroppedRequests},
    {"Replies or blocks given up", "given up", &TLinkCounts::GivenUp},
    {"Watchdog aborts", "watchdog", &TLinkCounts::WatchdogAborts},
    {"Disconnect aborts", "disc", &TLinkCounts::DisconnectAborts},
    {"Noise bytes", "noise", &TLinkCounts::NoiseBytes},
    {"Port lost", "port lost", &TLinkCounts::LostPort},
    {"Dropped keys", "keys lost", &TLinkCounts::DroppedKeys},
};

}  // namespace

std::string FormatStats(const TLinkCounts& c) {
  std::string text = "Link statistics since Connect\nRequests: " + Num(c.AllRequests()) + " (";
  for (size_t slot = 0; slot < kServiceSlots; ++slot) {
    if (slot != 0) text += ", ";
    text += std::string(ServiceName(slot)) + " " + Num(c.Requests[slot]);
  }
  text += ")";
  for (const auto& line : kStatLines) text += "\n" + std::string(line.Label) + ": " + Num(c.*(line.Count));
  return text;
}

std::vector<std::string> FormatStatsItems(const TLinkCounts& c) {
  std::string requests = "req " + Num(c.AllRequests());
  std::string services;
  for (size_t slot = 0; slot < kServiceSlots; ++slot) {
    if (c.Requests[slot] == 0) continue;
    services += " " + std::string(ServiceShortName(slot)) + " " + Num(c.Requests[slot]);
  }
  if (!services.empty()) requests += ":" + services;
  std::vector<std::string> items{requests};
  for (const auto& line : kStatLines) {
    if (c.*(line.Count) != 0) items.push_back(std::string(line.Short) + " " + Num(c.*(line.Count)));
  }
  return items;
}

std::string FormatStatsLine(const TLinkCounts& c) {
  std::string text;
  for (const std::string& item : FormatStatsItems(c)) text += (text.empty() ? "" : " | ") + item;
  return text;
}

std::string FormatStatsWord(const TLinkCounts& c) {
  if (c.AllRequests() == 0 && c.Errors() == 0) return {};
  std::string word = Num(c.AllRequests()) + " req";
  if (c.Errors() != 0) word += " " + Num(c.Errors()) + " err";
  return word;
}

}  // namespace app
