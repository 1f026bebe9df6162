#!/usr/bin/env bash
# Starts the console, or says in one line why it cannot.
set -u
bin="$1"; shift
case " $* " in *" --terminal "*|*" --headless "*) exec "$bin" "$@" ;; esac
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != "offscreen" ]; then
  echo "consolew: no display found (DISPLAY and WAYLAND_DISPLAY are unset); run it from a desktop session, or use make run ARGS=\"--terminal ...\", or xvfb-run make run" >&2
  exit 1
fi
exec "$bin" "$@"
