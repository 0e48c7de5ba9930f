# Sourced by the scripts in tools/: the project-local Wine prefix and settings.
# PLUME_BUILD may be set by the caller; it defaults to <repo>/build.
PLUME_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PLUME_BUILD="${PLUME_BUILD:-$PLUME_ROOT/build}"
# Under ctest with the resource spec of tools/test.sh a test is given a lane:
# lane 0 is the project's prefix, lane N the copy wineprefix-N.
if [ -z "${WINEPREFIX:-}" ]; then
  lane="${CTEST_RESOURCE_GROUP_0_PREFIXES:-id:0,}"
  lane="${lane#id:}"
  lane="${lane%%,*}"
  if [ "$lane" = 0 ]; then WINEPREFIX="$PLUME_BUILD/wineprefix"; else WINEPREFIX="$PLUME_BUILD/wineprefix-$lane"; fi
fi
export WINEPREFIX
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
