#!/usr/bin/env bash
# Emulator wrapper used by ctest: runs a Windows program under the project's
# Wine prefix with its output sent to a file (a pipe makes Wine slow to exit),
# then prints that file and returns the program's exit code.
. "$(dirname "$0")/wine-env.sh"
out=$(mktemp)
wine "$@" >"$out" 2>&1 </dev/null
rc=$?
cat "$out"; rm -f "$out"
exit $rc
