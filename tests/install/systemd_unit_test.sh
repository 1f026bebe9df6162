#!/usr/bin/env bash
# The template unit as `make install` writes it passes `systemd-analyze
# verify` with no complaint at all (it exits 0 on unknown keys, so its
# messages count too), and its ExecStart runs the installed console headless
# for the instance's profile. Installed into a scratch prefix so that the
# command the unit names exists. 77: no systemd-analyze here.
set -euo pipefail
build=$1
command -v systemd-analyze >/dev/null 2>&1 || { echo "systemd-analyze missing: skipped"; exit 77; }
scratch=$(mktemp -d /tmp/consolew-unit-XXXXXX)
trap 'rm -rf "$scratch"' EXIT

cmake --install "$build" --prefix "$scratch" >/dev/null
unit=$scratch/lib/systemd/system/consolew@.service
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
case $exec_start in
  "$scratch/bin/consolew --headless --profile %i "*) ;;
  *) echo "ExecStart is: $exec_start" >&2; exit 1 ;;
esac
if ! out=$(systemd-analyze verify --man=no "$unit" 2>&1) || [ -n "$out" ]; then
  echo "systemd-analyze verify: $out" >&2
  exit 1
fi
echo "consolew@.service: verified, ExecStart runs the installed console: OK"
