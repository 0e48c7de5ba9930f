#!/usr/bin/env bash
# The test command: installs what is missing, builds, prepares the Wine
# prefix and runs every test with ctest. Extra arguments go to ctest.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
export PLUME_BUILD="${PLUME_BUILD:-$root/build}"
"$root/tools/install-packages.sh"
"$root/tools/build.sh"
"$root/tools/wine-prefix.sh"
cd "$PLUME_BUILD"
ctest --output-on-failure --timeout 300 "$@"
