#!/usr/bin/env bash
# make deb: consolew_VERSION_ARCH.deb and consolew-board-sim_VERSION_ARCH.deb in
# DEBDIR, with debhelper, from the existing build tree (the programs are not
# compiled again), then lintian on them (an error fails).
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
debdir=$2
version=$(sed -n 's/^project(consolew VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
[ -n "$version" ] || { echo "deb: no version in CMakeLists.txt" >&2; exit 1; }

mkdir -p "$debdir"
debdir=$(cd "$debdir" && pwd)
stage=$debdir/consolew-$version
rm -rf "$stage" "$debdir"/*.deb "$debdir"/*.buildinfo "$debdir"/*.changes
mkdir -p "$stage"
cp -r "$src/packaging/debian" "$stage/debian"
cp "$src/packaging/consolew.conf" "$stage/debian/consolew.conf"
cat >"$stage/debian/changelog" <<CHANGELOG
consolew ($version) unstable; urgency=medium

  * Version $version of the project, packaged from its build tree.

 -- consolew developers <consolew@example.org>  $(date -R -d "@${SOURCE_DATE_EPOCH:-$(git -C "$src" log -1 --format=%ct 2>/dev/null || date +%s)}")
CHANGELOG

(cd "$stage" && CONSOLEW_SRC="$src" CONSOLEW_BUILD="$build" \
  DEB_BUILD_OPTIONS="nocheck noddebs ${DEB_BUILD_OPTIONS:-}" \
  dpkg-buildpackage -b -d -us -uc -rfakeroot >"$debdir/build.log" 2>&1) \
  || { tail -40 "$debdir/build.log" >&2; exit 1; }
rm -rf "$stage"

debs=("$debdir"/*_"$version"_*.deb)
lintian --fail-on error "${debs[@]}" || exit 1
printf 'deb: %s\n' "${debs[@]}"
