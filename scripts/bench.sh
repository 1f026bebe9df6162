#!/usr/bin/env bash
# make bench: times the console against the physical limits of its link and
# prints one Markdown table (also written to BUILD/bench-results.md).
#   PACED_TRACKS  tracks read at 115200 bit/s (default 10; 160 = the whole image, ~2.5 min)
#   PINGS         check-key round trips timed (default 5000)
#   SCROLL_SECONDS  how long the board scrolls past a client that reads nothing (default 60)
set -euo pipefail
BUILD=${1:-build}
PACED_TRACKS=${PACED_TRACKS:-10}
PINGS=${PINGS:-5000}
OUT="$BUILD/bench-results.md"

if [ ! -x "$BUILD/bench/console-bench" ] || [ ! -x "$BUILD/consolew" ]; then
  echo "bench: $BUILD/bench/console-bench or $BUILD/consolew missing (run make build)" >&2
  exit 1
fi

{
  echo "Run: $(date -u '+%Y-%m-%d %H:%M UTC'), $(uname -sr), $(nproc) cores," \
       "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')," \
       "build type $(grep -m1 CMAKE_BUILD_TYPE: "$BUILD/CMakeCache.txt" | cut -d= -f2)"
  echo
  echo "| Figure | Measured | Baseline | Target | Result |"
  echo "|---|---|---|---|---|"
} | tee "$OUT"

status=0
# The console's own diagnostics go to a log; shown when the run fails.
"$BUILD/bench/console-bench" --console "$BUILD/consolew" --pings "$PINGS" \
  --paced-tracks "$PACED_TRACKS" 2>"$BUILD/bench-stderr.log" | tee -a "$OUT" \
  || { status=1; cat "$BUILD/bench-stderr.log" >&2; }
if [ -x "$BUILD/bench/net-bench" ]; then
  # Through ser2net and a byte-at-a-time server on loopback.
  "$BUILD/bench/net-bench" --console "$BUILD/consolew" --pings "$PINGS" 2>>"$BUILD/bench-stderr.log" \
    | tee -a "$OUT" || { status=1; tail -20 "$BUILD/bench-stderr.log" >&2; }
fi
if [ -x "$BUILD/bench/control-bench" ]; then
  # The control socket: wait latency, 50 clients, a client that reads nothing.
  "$BUILD/bench/control-bench" --console "$BUILD/consolew" --pings "$PINGS" \
    --scroll-seconds "${SCROLL_SECONDS:-60}" 2>>"$BUILD/bench-stderr.log" | tee -a "$OUT" \
    || { status=1; tail -20 "$BUILD/bench-stderr.log" >&2; }
fi
if [ -x "$BUILD/bench/web-bench" ]; then
  # The web console: key and screen latency on a WebSocket, bytes per character, 50 viewers.
  "$BUILD/bench/web-bench" --console "$BUILD/consolew" --pings "$PINGS" 2>>"$BUILD/bench-stderr.log" \
    | tee -a "$OUT" || { status=1; tail -20 "$BUILD/bench-stderr.log" >&2; }
fi
if [ -x "$BUILD/bench/render-bench" ]; then
  "$BUILD/bench/render-bench" 2>/dev/null | tee -a "$OUT" || status=1
fi
if [ -x "$BUILD/bench/terminal-bench" ]; then
  "$BUILD/bench/terminal-bench" | tee -a "$OUT" || status=1
fi
if grep -q '| MISS |' "$OUT"; then
  echo "bench: some targets missed" >&2
fi
exit $status
