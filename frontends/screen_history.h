// The last minutes of the board's screen, kept in memory whether or not the
// console records to a file, so that a client who comes late can replay what
// happened (a boot nobody watched): the recording's events cut into segments,
// each starting with a keyframe that draws the whole screen. Bounded by age
// and by size; the oldest segments go first.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace app {

class TScreenHistory {
 public:
  static constexpr size_t kMaxBytes = 16 * 1024 * 1024;
  static constexpr int64_t kKeyframeMs = 10'000;  // a new segment after this long
  static constexpr int64_t kKeepMs = 30 * 60'000;
  // A cast answered at most this long (a span that would be longer starts at a
  // later keyframe), so that it fits what a control client may have unread.
  static constexpr size_t kMaxCast = 512 * 1024;

  // An event at `ms` (a steady clock). `keyframe`: an output event that draws
  // the whole screen, starting a new segment.
  void Add(int64_t ms, char kind, std::string data, bool keyframe);
  // Whether the next output event should be a keyframe (none yet, or the
  // current segment is old or big enough).
  bool WantsKeyframe(int64_t ms) const;
  size_t Bytes() const { return Bytes_; }

  struct TCast {
    std::string Text;      // asciicast v2
    double Seconds = 0;    // the span it covers (less than asked when there is less)
  };
  // The last `seconds` before `nowMs` as an asciicast v2 text: its first event
  // is the whole screen as it was at the span's start, the others follow with
  // their times from there. `unixNow` (wall clock) dates the header.
  TCast Cast(int64_t nowMs, int64_t unixNow, double seconds, const std::string& title) const;

 private:
  struct TEvent {
    int64_t Ms;
    char Kind;
    std::string Data;
  };
  struct TSegment {
    int64_t StartMs = 0;
    size_t Bytes = 0;
    std::vector<TEvent> Events;  // the first is the keyframe
  };
  void Prune(int64_t nowMs);

  std::deque<TSegment> Segments;
  size_t Bytes_ = 0;
};

}  // namespace app
