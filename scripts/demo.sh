#!/usr/bin/env bash
# The whole system in one command: the console wired to the simulated board,
# serving the demo diskette made at build time.
set -u
build="${1:-build}"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != "offscreen" ]; then
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
echo "demo: starting the console and the simulated board; close the window to end" >&2
exec "$build/board-sim" "${image[@]}"
