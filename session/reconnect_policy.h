// When to try a lost port again: a local device every 250 ms (it is back
// within a second of its return), a network server with a back-off from
// 0.5 s to 5 s (a server that is down is not hammered).
#pragma once

#include <algorithm>

namespace app {

class TReconnectPolicy {
 public:
  static constexpr int kLocalMs = 250;
  static constexpr int kFirstNetworkMs = 500;
  static constexpr int kLastNetworkMs = 5000;

  // A new loss: the delays start again.
  void Reset(bool local) {
    Local = local;
    NextMs = local ? kLocalMs : kFirstNetworkMs;
  }
  // The delay before the next try.
  int Next() {
    const int delay = NextMs;
    if (!Local) NextMs = std::min(NextMs * 2, kLastNetworkMs);
    return delay;
  }

 private:
  bool Local = true;
  int NextMs = kLocalMs;
};

}  // namespace app
