#include "frontends/screen_history.h"

#include <algorithm>

#include "frontends/cast_format.h"

namespace app {

namespace {
constexpr size_t kEventOverhead = 48;  // what an event costs besides its data
constexpr size_t kMaxSegmentBytes = 1024 * 1024;
}  // namespace

bool TScreenHistory::WantsKeyframe(int64_t ms) const {
  return Segments.empty() || ms - Segments.back().StartMs >= kKeyframeMs ||
         Segments.back().Bytes >= kMaxSegmentBytes;
}

void TScreenHistory::Add(int64_t ms, char kind, std::string data, bool keyframe) {
  if (keyframe) {
    Segments.emplace_back();
    Segments.back().StartMs = ms;
  } else if (Segments.empty()) {
    return;  // nothing to draw it on
  }
  const size_t cost = data.size() + kEventOverhead;
  Segments.back().Events.push_back({ms, kind, std::move(data)});
  Segments.back().Bytes += cost;
  Bytes_ += cost;
  Prune(ms);
}

void TScreenHistory::Prune(int64_t nowMs) {
  // A segment goes when the one after it starts early enough to cover what is kept.
  while (Segments.size() > 1 && (Bytes_ > kMaxBytes || Segments[1].StartMs <= nowMs - kKeepMs)) {
    Bytes_ -= Segments.front().Bytes;
    Segments.pop_front();
  }
}

TScreenHistory::TCast TScreenHistory::Cast(int64_t nowMs, int64_t unixNow, double seconds,
                                           const std::string& title) const {
  TCast cast;
  if (Segments.empty()) {
    cast.Text = CastHeader(unixNow, title);
    return cast;
  }
  int64_t from = nowMs - static_cast<int64_t>(std::max(0.0, seconds) * 1000);
  // The last segment that starts at or before the span's start.
  size_t first = 0;
  for (size_t i = 0; i < Segments.size(); ++i) {
    if (Segments[i].StartMs <= from) first = i;
  }
  size_t bytes = 0;
  for (size_t i = first; i < Segments.size(); ++i) bytes += Segments[i].Bytes;
  while (bytes > kMaxCast && first + 1 < Segments.size()) bytes -= Segments[first++].Bytes;
  from = std::max(from, Segments[first].StartMs);

  cast.Seconds = static_cast<double>(nowMs - from) / 1000;
  cast.Text = CastHeader(unixNow - (nowMs - from) / 1000, title);
  // Everything drawn up to the span's start, folded into its first event.
  std::string start;
  bool startDone = false;
  for (size_t i = first; i < Segments.size(); ++i) {
    for (const TEvent& e : Segments[i].Events) {
      if (!startDone && e.Ms <= from) {
        if (e.Kind == 'o') start += e.Data;
        continue;
      }
      if (!startDone) {
        cast.Text += CastEvent(0, 'o', start);
        startDone = true;
      }
      cast.Text += CastEvent(static_cast<double>(e.Ms - from) / 1000, e.Kind, e.Data);
    }
  }
  if (!startDone) cast.Text += CastEvent(0, 'o', start);
  return cast;
}

}  // namespace app
