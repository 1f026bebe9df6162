// A recording played in a terminal (Ctrl-] h on an attached terminal): the
// output events of an asciicast v2 text at their times, each pause shortened
// to a second and the whole played four times as fast, so that the last ten
// minutes of a board are seen in a few minutes at most.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace app {

class TCastPlayer {
 public:
  static constexpr uint64_t kMaxPauseMs = 1000;
  static constexpr uint64_t kSpeed = 4;

  // False when `text` is no asciicast v2 of output events (its header line
  // wrong, or no event at all). Lines that are not an event are skipped.
  bool Load(std::string_view text);
  // The output due `elapsedMs` after the start, not given before.
  std::string Due(uint64_t elapsedMs);
  bool Done() const { return Next >= Events.size(); }
  // When the last event is due.
  uint64_t LengthMs() const { return Events.empty() ? 0 : Events.back().AtMs; }

 private:
  struct TEvent {
    uint64_t AtMs;
    std::string Data;
  };
  std::vector<TEvent> Events;
  size_t Next = 0;
};

}  // namespace app
