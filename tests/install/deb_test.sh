#!/usr/bin/env bash
# After `make deb`: the two packages extract (dpkg -x) into a scratch root
# with every file in place, the unit's ExecStart names the packaged binary,
# the installed programs run from there, and so does the unit's command line.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
debdir=${1:-$src/build-deb}
version=$(sed -n 's/^project(consolew VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
arch=$(dpkg --print-architecture)
root=$(mktemp -d /tmp/consolew-deb-XXXXXX)
trap 'rm -rf "$root"' EXIT
fail() { echo "deb: $*" >&2; exit 1; }

for package in consolew consolew-board-sim; do
  deb=$debdir/${package}_${version}_${arch}.deb
  [ -f "$deb" ] || fail "$deb missing (make deb)"
  dpkg -x "$deb" "$root"
done

files=(usr/bin/consolew usr/bin/board-sim usr/share/man/man1/consolew.1.gz
       usr/share/bash-completion/completions/consolew lib/systemd/system/consolew@.service
       etc/consolew/consolew.conf usr/share/doc/consolew/examples/99-consolew.rules
       usr/share/doc/consolew/copyright usr/share/doc/consolew-board-sim/copyright
       usr/share/man/man1/board-sim.1.gz)
[ -f "$src/clients/python/consolew_client.py" ] && files+=(usr/lib/python3/dist-packages/consolew_client.py)
for f in "${files[@]}"; do [ -f "$root/$f" ] || fail "$f is not in the package"; done
[ -x "$root/usr/bin/consolew" ] || fail "usr/bin/consolew is not executable"

exec_start=$(sed -n 's/^ExecStart=//p' "$root/lib/systemd/system/consolew@.service")
[ "${exec_start%% *}" = /usr/bin/consolew ] || fail "the unit runs ${exec_start%% *}"
got=$("$root/usr/bin/consolew" --version)
[ "$got" = "consolew $version" ] || fail "the packaged consolew --version said: $got"
"$root/usr/bin/board-sim" --help | grep -q -- '--pty-link PATH' || fail "the packaged board-sim does not run"
if command -v man >/dev/null 2>&1; then
  LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$root/usr/share/man/man1/consolew.1.gz" | grep -q 'CONTROL PROTOCOL' \
    || fail "the packaged man page does not render"
fi
# The packaged unit's command line for a board-sim profile, --attach, the recording replayed.
/usr/bin/python3 "$src/tests/install/service_e2e_test.py" --root "$root" "$root/usr/bin/board-sim" \
  || fail "the packaged service does not run"
echo "deb: consolew $version and consolew-board-sim extract with all their files, both programs run: OK"
