# Sourced by the scripts in tools/: the project-local Wine prefix and settings.
# PLUME_BUILD may be set by the caller; it defaults to <repo>/build.
PLUME_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PLUME_BUILD="${PLUME_BUILD:-$PLUME_ROOT/build}"
export WINEPREFIX="${WINEPREFIX:-$PLUME_BUILD/wineprefix}"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
