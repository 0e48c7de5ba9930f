#!/usr/bin/env bash
# Creates (idempotently) the project's Wine prefix: headless graphics driver
# unless PLUME_DISPLAY=1, the stand-in client installed (with the per-program
# Windows versions of its two variants), and a persistent wineserver.
# Usage: tools/wine-prefix.sh [--reset]
set -euo pipefail
. "$(dirname "$0")/wine-env.sh"

if [ "${1:-}" = "--reset" ]; then
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
fi

want_driver=null
[ "${PLUME_DISPLAY:-0}" = "1" ] && want_driver=x11
stamp="$WINEPREFIX/.plume-prefix"

reg_import() { # apply a .reg file through regedit, output to a file
  local f; f=$(mktemp --suffix=.reg)
  printf '%s\n' "$@" > "$f"
  wine regedit /S "$(winepath -w "$f")" >"$f.log" 2>&1 </dev/null || true
  rm -f "$f" "$f.log"
}

if [ ! -f "$stamp" ] || [ "$(cat "$stamp")" != "$want_driver" ]; then
  mkdir -p "$WINEPREFIX"
  wineserver -k 2>/dev/null || true
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >"$WINEPREFIX/../wineboot.log" 2>&1 </dev/null || true
    wineserver -w
  fi
  if [ "$want_driver" = "null" ]; then driver_line='"Graphics"="null"'; else driver_line='"Graphics"=-'; fi
  reg_import 'REGEDIT4' '' \
    '[HKEY_CURRENT_USER\Software\Wine\Drivers]' "$driver_line" '' \
    '[HKEY_CURRENT_USER\Software\Wine\WineDbg]' '"ShowCrashDialog"=dword:00000000'
  wineserver -w
  echo "$want_driver" > "$stamp"
fi

# One persistent server with detached streams, so that test runs do not wait
# on pipes inherited by Wine's services.

wineserver -p </dev/null >/dev/null 2>&1 || true
wine wineboot </dev/null >/dev/null 2>&1 || true
"$(dirname "$0")/standin-registry.sh"
# The library and the script helper, registered as their installer does (after
# the client's install roots, which name the library's local server). Tests
# that register them again leave the same keys.
# A registration that fails is tried once more, then reported: tests that
# register again would otherwise complete it and leave the prefix changed.
for dll in plumesrv plumescript; do
  [ -f "$PLUME_BUILD/bin/$dll.dll" ] || continue
  path=$(winepath -w "$PLUME_BUILD/bin/$dll.dll")
  if ! wine regsvr32 /s "$path" >/dev/null 2>&1 </dev/null && ! wine regsvr32 /s "$path" >/dev/null 2>&1 </dev/null; then
    echo "wine-prefix.sh: regsvr32 $dll.dll failed in $WINEPREFIX" >&2
    exit 1
  fi
done
