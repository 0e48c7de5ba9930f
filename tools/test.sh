#!/usr/bin/env bash
# The test command: installs what is missing, builds, prepares the Wine
# prefix, runs every test with ctest (extra arguments go to ctest) and checks
# that the tests left the prefix's state of ours as they found it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
export PLUME_BUILD="${PLUME_BUILD:-$root/build}"
"$root/tools/install-packages.sh"
"$root/tools/build.sh"
"$root/tools/wine-prefix.sh"
state="$PLUME_BUILD/prefix-state.before"
"$root/tools/prefix-state.sh" save "$state"
cd "$PLUME_BUILD"
rc=0
# The reliability groups write their summary rows here (tests/reliability).
summary="$PLUME_BUILD/bin/reliability"
rm -rf "$summary"
ctest --output-on-failure --timeout 300 "$@" || rc=$?
# Their table once more, after the long output of the whole run.
if [ -d "$summary" ]; then
  python3 "$root/tests/reliability/print_summary.py" "$summary" || rc=1
fi
# The run ends by proving that the tests left the prefix as they found it.
"$root/tools/prefix-state.sh" check "$state" || rc=1
exit $rc
