#!/usr/bin/env bash
# Emulator wrapper used by ctest: runs a Windows program under the project's
# Wine prefix with its output sent to a file (a pipe makes Wine slow to exit),
# then prints that file and returns the program's exit code. A program that
# died of an unhandled exception fails even where Wine's debugger let it end
# with exit code 0.
. "$(dirname "$0")/wine-env.sh"
out=$(mktemp)
wine "$@" >"$out" 2>&1 </dev/null
rc=$?
cat "$out"
if [ $rc -eq 0 ] && grep -q "^Unhandled exception:" "$out"; then
  echo "wine-run: the program died of an unhandled exception" >&2
  rc=1
fi
rm -f "$out"
exit $rc
