#!/usr/bin/env bash
# Installs the Debian packages the project needs, only those that are missing,
# so that running it again is cheap.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libgl-dev libx11-dev libxkbcommon-dev qt6-httpserver-dev qt6-websockets-dev
  fonts-dejavu-core fonts-liberation
  xvfb xauth xdotool x11-utils
  dosfstools mtools socat
  clang-14 libclang-rt-14-dev clang-tidy
  python3-pexpect python3-pyte python3-labgrid python3-pytest asciinema
  chromium chromium-driver python3-selenium python3-websocket
  ser2net libgensio-dev libwrap0-dev
  debhelper fakeroot lintian man-db groff-base
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing missing packages: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then SUDO="sudo"; else
    echo "Need root (or sudo) to install: ${missing[*]}" >&2; exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
