#!/usr/bin/env bash
# The man page renders without a warning; every option of `consolew --help`
# is in the man page and in the bash completion; the completion script
# parses and completes options, profile names from --config's file, and
# file names.
set -euo pipefail
src=$1 consolew=$2
scratch=$(mktemp -d /tmp/consolew-docs-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "$*" >&2; exit 1; }

page=$src/docs/consolew.1
for p in "$page" "$src/docs/board-sim.1"; do
  warnings=$(groff -man -Tutf8 -ww -z "$p" 2>&1)
  [ -z "$warnings" ] || fail "groff $p: $warnings"
done
if command -v man >/dev/null 2>&1; then
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >"$scratch/page.txt")
  [ -z "$warnings" ] || fail "man -l: $warnings"
  grep -q 'CONTROL PROTOCOL' "$scratch/page.txt" || fail "man -l rendered no CONTROL PROTOCOL section"
fi

completion=$src/completion/consolew.bash
bash -n "$completion" || fail "bash -n $completion"
for option in $("$consolew" --help | grep -o -- '--[a-z0-9][a-z0-9-]*' | sort -u); do
  grep -q -- "${option//-/\\\\-}" "$page" || fail "$option is not in the man page"
  [ "$option" = --help ] || grep -q -- "$option\\b" "$completion" || fail "$option is not completed"
done

printf '[bench1]\ncom1 = /dev/ttyUSB0\n\n[lab-2]\n# [commented]\nimage = x.img\n [ spaced ] \r\n' >"$scratch/profiles.conf"
touch "$scratch/floppy.img" "$scratch/flash.bin"
complete_line() {  # WORDS...: COMPREPLY of the last word, sorted, one line
  bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _consolew
           printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " "' _ "$completion" "$@"
}
got=$(complete_line consolew --config "$scratch/profiles.conf" --profile "")
[ "$got" = "bench1 lab-2 spaced " ] || fail "profiles completed as: $got"
mkdir -p "$scratch/home/.config/consolew"
cp "$scratch/profiles.conf" "$scratch/home/.config/consolew/consolew.conf"
got=$(HOME=$scratch/home XDG_CONFIG_HOME='' complete_line consolew l)
[ "$got" = "lab-2 " ] || fail "a first-argument profile completed as: $got"
got=$(complete_line consolew --tra)
[ "$got" = "--trace --trace-data " ] || fail "--tra completed as: $got"
got=$(complete_line consolew --image "$scratch/fl")
[ "$got" = "$scratch/flash.bin $scratch/floppy.img " ] || fail "--image completed as: $got"
echo "man page renders cleanly, every option documented and completed, completions OK"
