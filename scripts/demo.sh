#!/usr/bin/env bash
# The whole system in one command: the console wired to the simulated board,
# serving the demo diskette made at build time.
set -u
build="${1:-build}"
shift || true
# --browser: the console without a window, serving its web console on
# 127.0.0.1:${CONSOLEW_DEMO_PORT:-8080}, the page opened in Chromium (or only
# its link printed when there is no display). Other arguments go to the console.
browser=0
if [ "${1:-}" = "--browser" ]; then
  browser=1
  shift
fi
if [ "$browser" = 0 ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != "offscreen" ]; then
  echo "demo: no display found (DISPLAY and WAYLAND_DISPLAY are unset); run it from a desktop session, or try: xvfb-run make demo" >&2
  exit 1
fi
if [ ! -x "$build/board-sim" ] || [ ! -x "$build/consolew" ]; then
  echo "demo: $build/board-sim or $build/consolew is missing; run: make build" >&2
  exit 1
fi
image=()
if [ -f "$build/demo.img" ]; then
  image=(--image "$build/demo.img")
else
  echo "demo: $build/demo.img was not made (mkfs.fat and mcopy are needed: make deps); starting without a diskette" >&2
fi
if [ "$browser" = 1 ]; then
  port="${CONSOLEW_DEMO_PORT:-8080}"
  CONSOLEW_TOKEN="$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')"
  export CONSOLEW_TOKEN
  url="http://127.0.0.1:$port/#token=$CONSOLEW_TOKEN"
  echo "demo: the console and the simulated board, the web console on $url; Ctrl+C ends" >&2
  "$build/board-sim" "${image[@]}" -- --headless --serve "127.0.0.1:$port" "$@" &
  sim=$!
  trap 'kill "$sim" 2>/dev/null' INT TERM EXIT
  sleep 1
  chrome="$(command -v chromium || command -v chromium-browser || command -v google-chrome || true)"
  if [ -n "$chrome" ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then
    sandbox=()
    [ "$(id -u)" = 0 ] && sandbox=(--no-sandbox)
    "$chrome" "${sandbox[@]}" --new-window --app="$url" >/dev/null 2>&1 &
  else
    echo "demo: open $url in a browser" >&2
  fi
  wait "$sim"
  exit $?
fi
echo "demo: starting the console and the simulated board; close the window to end" >&2
if [ $# -gt 0 ]; then
  exec "$build/board-sim" "${image[@]}" -- "$@"
fi
exec "$build/board-sim" "${image[@]}"
