#!/usr/bin/env bash
# Installs every Debian 12 package the launcher, its tools and its tests need (as root).
# Does nothing when they are all present already.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools qt6-webengine-dev qt6-webengine-dev-tools libqt6opengl6-dev
  libgl-dev libxkbcommon-dev
  libcurl4-openssl-dev rapidjson-dev libtinyxml2-dev libminizip-dev zlib1g-dev libssl-dev libsodium-dev minisign
  libcpp-httplib-dev libgtest-dev googletest
  clang clang-format libclang-rt-14-dev
  fonts-wqy-zenhei
  xvfb xauth xdotool imagemagick x11-utils
  zip unzip curl python3 procps ca-certificates fonts-dejavu-core dpkg-dev
  nginx-light
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null; then SUDO=sudo; else
    echo "missing packages: ${missing[*]} (run this script as root to install them)" >&2
    exit 1
  fi
else
  SUDO=
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
