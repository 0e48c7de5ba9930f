#!/usr/bin/env bash
# Installs the library into the project's Wine prefix (or the one WINEPREFIX
# names) and lists plug-ins: plume-setup.exe run under Wine.
#   tools/plume-setup.sh install [--machine] [--isolated] [--plugin NAME=DLL-PATH-OR-PROGID ...]
#   tools/plume-setup.sh uninstall [--machine] (--plugin NAME ... | --all-plugins)   unlists only
#   tools/plume-setup.sh uninstall --all                                            the library too
#   tools/plume-setup.sh list
# Set PLUME_BIN to a folder holding plume-setup.exe, plumesrv.dll and
# plumescript.dll (an installed SDK's bin/) to use that one.
set -euo pipefail
. "$(dirname "$0")/wine-env.sh"
bin="${PLUME_BIN:-$PLUME_BUILD/bin}"
exec "$(dirname "$0")/wine-run.sh" "$bin/plume-setup.exe" "$@"
