#!/usr/bin/env bash
# Installs the Debian packages the project needs: the MinGW-w64 cross toolchain,
# widl and Wine's IDL files, Wine (64-bit) and GoogleTest sources. With --demo
# also Xvfb, ImageMagick and a font for the demo's screenshots (the tests run
# on Wine's null graphics driver and need none of them).
set -euo pipefail
pkgs=(cmake ninja-build g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
      wine wine64 libwine-dev googletest python3)
if [ "${1:-}" = "--demo" ]; then
  pkgs+=(xvfb x11-apps imagemagick xauth fonts-wqy-microhei)
fi
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then exit 0; fi
SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
