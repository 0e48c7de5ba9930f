#!/usr/bin/env bash
# The test command: installs what is missing, builds, prepares the Wine
# prefixes, runs every test with ctest in two lanes (extra arguments go to
# ctest) and checks that the tests left each prefix's state of ours as they
# found it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
export PLUME_BUILD="${PLUME_BUILD:-$root/build}"
"$root/tools/install-packages.sh"
"$root/tools/build.sh"
unset WINEPREFIX  # each test's prefix comes from its lane (tools/wine-env.sh)
"$root/tools/wine-prefix.sh"
# Two lanes: the tests mostly wait (on the client's ticks, transfers and
# bounds), so two of them run at once, each in a Wine prefix of its own with
# its own wineserver. Lane 1's prefix is a copy of the prepared one, made
# while no server holds it.
lanes=(0 1)
lane_prefix() { if [ "$1" = 0 ]; then echo "$PLUME_BUILD/wineprefix"; else echo "$PLUME_BUILD/wineprefix-$1"; fi; }
(export WINEPREFIX="$(lane_prefix 0)"; . "$root/tools/wine-env.sh"; wineserver -k 2>/dev/null; timeout 60 wineserver -w 2>/dev/null) || true
for lane in "${lanes[@]:1}"; do
  (export WINEPREFIX="$(lane_prefix "$lane")"; . "$root/tools/wine-env.sh"; wineserver -k 2>/dev/null; timeout 60 wineserver -w 2>/dev/null) || true
  rm -rf "$(lane_prefix "$lane")"
  cp -a "$(lane_prefix 0)" "$(lane_prefix "$lane")"
done
spec="$PLUME_BUILD/test-lanes.json"
ids=$(printf '{"id":"%s","slots":1},' "${lanes[@]}")
printf '{"version":{"major":1,"minor":0},"local":[{"prefixes":[%s]}]}\n' "${ids%,}" > "$spec"
for lane in "${lanes[@]}"; do
  (export WINEPREFIX="$(lane_prefix "$lane")"; . "$root/tools/wine-env.sh"
   wineserver -p </dev/null >/dev/null 2>&1; wine wineboot </dev/null >/dev/null 2>&1) || true
  WINEPREFIX="$(lane_prefix "$lane")" "$root/tools/prefix-state.sh" save "$PLUME_BUILD/prefix-state.before.$lane"
done
cd "$PLUME_BUILD"
rc=0
# The reliability groups write their summary rows here (tests/reliability).
summary="$PLUME_BUILD/bin/reliability"
rm -rf "$summary"
reruns="$PLUME_BUILD/wine-run-reruns.log"  # tools/wine-run.sh
rm -f "$reruns"
# The library and its unit tests once more, built with UndefinedBehaviorSanitizer
# in trap mode: a check that fails ends the program as a crash, which fails
# the run. The stand-in's engine comes from the main build. It is built while
# the suites run (they mostly wait), at a lower priority than theirs.
ubsan="$PLUME_BUILD/ubsan"
if [ ! -f "$ubsan/build.ninja" ]; then
  cmake -S "$root" -B "$ubsan" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DPLUME_UBSAN=ON >/dev/null
fi
nice -n 10 cmake --build "$ubsan" --target plume_unit_tests >"$PLUME_BUILD/ubsan-build.log" 2>&1 &
ubsan_build=$!
ctest --output-on-failure --timeout 300 -j "${#lanes[@]}" --resource-spec-file "$spec" "$@" || rc=$?
if wait "$ubsan_build"; then
  cp "$PLUME_BUILD/bin/msoe.dll" "$ubsan/bin/"
  # In a copy of the prefix: the self-registration tests register the library
  # they load, which here is the sanitizer build's.
  rm -rf "$ubsan/wineprefix"
  (. "$root/tools/wine-env.sh" && wineserver -k 2>/dev/null; wineserver -w 2>/dev/null) || true
  cp -a "$PLUME_BUILD/wineprefix" "$ubsan/wineprefix"
  if WINEPREFIX="$ubsan/wineprefix" "$root/tools/wine-run.sh" "$ubsan/bin/plume_unit_tests.exe" \
       >"$PLUME_BUILD/ubsan-tests.log" 2>&1; then
    echo "unit tests under UndefinedBehaviorSanitizer: $(grep -o '\[  PASSED  \] [0-9]* tests' "$PLUME_BUILD/ubsan-tests.log")"
  else
    grep -E "FAILED|Failure|Unhandled|^wine-run" "$PLUME_BUILD/ubsan-tests.log" | head -40
    echo "unit tests under UndefinedBehaviorSanitizer: FAILED (build/ubsan-tests.log)"
    rc=1
  fi
  (export WINEPREFIX="$ubsan/wineprefix"; wineserver -k 2>/dev/null) || true
  rm -rf "$ubsan/wineprefix"
else
  tail -40 "$PLUME_BUILD/ubsan-build.log"
  rc=1
fi
# The reliability summary once more, after the long output of the whole run.
if [ -d "$summary" ]; then
  python3 "$root/tests/reliability/print_summary.py" "$summary" || rc=1
fi
if [ -s "$reruns" ]; then
  echo "Programs that Wine ended before they printed anything, each run once more:"
  cat "$reruns"
fi
# The run ends by proving that the tests left the prefixes as they found them.
for lane in "${lanes[@]}"; do
  WINEPREFIX="$(lane_prefix "$lane")" "$root/tools/prefix-state.sh" check "$PLUME_BUILD/prefix-state.before.$lane" || rc=1
done
exit $rc
