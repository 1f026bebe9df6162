#!/usr/bin/env bash
# make install PREFIX=/opt/consolew DESTDIR=SCRATCH puts exactly consolew and
# board-sim in SCRATCH/opt/consolew/bin (with the man page, completion, unit
# and examples beside them), and the installed programs run.
set -euo pipefail
src=$1 build=$2 expect_version=$3
scratch=$(mktemp -d /tmp/consolew-install-XXXXXX)
trap 'rm -rf "$scratch"' EXIT

env -u MAKEFLAGS -u MAKELEVEL make -s -C "$src" install BUILD="$build" PREFIX=/opt/consolew DESTDIR="$scratch" JOBS=1 >"$scratch.log" 2>&1 \
  || { cat "$scratch.log"; rm -f "$scratch.log"; exit 1; }
rm -f "$scratch.log"

files=$(cd "$scratch" && find . -type f -o -type l | sort | tr '\n' ' ')
expected="./opt/consolew/bin/board-sim ./opt/consolew/bin/consolew"
[ -f "$src/clients/python/consolew_client.py" ] && expected+=" ./opt/consolew/lib/python3/dist-packages/consolew_client.py"
expected+=" ./opt/consolew/lib/systemd/system/consolew@.service"
expected+=" ./opt/consolew/share/bash-completion/completions/consolew"
expected+=" ./opt/consolew/share/doc/consolew/examples/99-consolew.rules"
expected+=" ./opt/consolew/share/doc/consolew/examples/consolew.conf"
expected+=" ./opt/consolew/share/man/man1/board-sim.1 ./opt/consolew/share/man/man1/consolew.1 "
if [ "$files" != "$expected" ]; then
  echo "installed files: $files" >&2
  exit 1
fi
version=$("$scratch/opt/consolew/bin/consolew" --version)
[ "$version" = "$expect_version" ] || { echo "consolew --version said: $version" >&2; exit 1; }
"$scratch/opt/consolew/bin/board-sim" --help | grep -q -- '--pty-link PATH' \
  || { echo "board-sim --help did not run" >&2; exit 1; }
echo "make install: consolew and board-sim in PREFIX/bin under DESTDIR, both run: OK"
