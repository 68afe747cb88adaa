#!/usr/bin/env bash
# Installs the Debian packages Tarvex needs to build, run and test, where
# they are missing. Uses sudo when not run as root.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkgconf
  qt6-base-dev qt6-image-formats-plugins libgl-dev libvulkan-dev libjpeg-dev
  libbenchmark-dev libexiv2-dev libwebp-dev libdeflate-dev libheif-dev liblcms2-dev
  clang libclang-rt-dev
  xvfb xauth xdotool x11-utils fonts-dejavu-core
  desktop-file-utils appstream dpkg-dev file
  exfat-fuse exfatprogs
)
if [ "${1:-}" = "--tests" ]; then
  packages+=(parallel weston xwayland lintian man-db groff-base qt6-wayland bash-completion)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
