#!/usr/bin/env bash
# Installs the Debian packages the project needs: the MinGW-w64 cross toolchain,
# widl, Wine (64-bit), GoogleTest sources, Xvfb and ImageMagick for screenshots.
set -euo pipefail
pkgs=(cmake ninja-build g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
      wine wine64 libwine-dev googletest xvfb x11-apps imagemagick xauth python3 fonts-wqy-microhei)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then exit 0; fi
SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
