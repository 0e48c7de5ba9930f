#!/usr/bin/env bash
# Emulator wrapper used by ctest: runs a Windows program under the project's
# Wine prefix with its output sent to a file (a pipe makes Wine slow to exit),
# then prints that file and returns the program's exit code. A program that
# died of an unhandled exception fails even where Wine's debugger let it end
# with exit code 0; so does a test program whose run was cut short.
. "$(dirname "$0")/wine-env.sh"
out=$(mktemp)
run() { wine "$@" >"$out" 2>&1 </dev/null; rc=$?; }
run "$@"
# Under ctest every program is a test that prints from its first moment; one
# that printed nothing was ended before it started (Wine's server gone or
# going: seen with exit codes 0 and 1 and with a signal), so none of its own
# code ran. Said, logged for the end of the run, and run once more
# (docs/toolchain.md, "A program ended before it started").
if [ -n "${CTEST_RESOURCE_GROUP_COUNT:-}" ] && [ ! -s "$out" ]; then
  key="server-$(stat -c %D "$WINEPREFIX")-$(printf '%x' "$(stat -c %i "$WINEPREFIX")")"
  server="the prefix's wineserver is not running"
  for pid in $(pgrep -x wineserver64); do
    [[ "$(readlink "/proc/$pid/cwd")" == */"$key" ]] && server="the prefix's wineserver runs as $(tr '\0' ' ' <"/proc/$pid/cmdline")"
  done
  note="wine-run: $(basename "$1") ended with code $rc before it printed anything ($server, prefix $WINEPREFIX); run once more"
  echo "$note" >&2
  echo "$(date -u +%FT%TZ) $note: ${*:2}" >>"$PLUME_BUILD/wine-run-reruns.log"
  run "$@"
  if [ $rc -eq 0 ] && [ ! -s "$out" ]; then
    echo "wine-run: the test printed nothing" >&2
    rc=1
  fi
fi
cat "$out"
if [ $rc -eq 0 ] && grep -q "^Unhandled exception:" "$out"; then
  echo "wine-run: the program died of an unhandled exception" >&2
  rc=1
fi
if [ $rc -eq 0 ] && grep -q "^\[==========\] Running " "$out" && ! grep -q "^\[==========\] .* ran\." "$out"; then
  echo "wine-run: the tests started but did not run to their end" >&2
  rc=1
fi
rm -f "$out"
exit $rc
