#!/usr/bin/env bash
# Installs the SDK into a fresh folder, checks that nothing in it refers back
# to the build folder, builds the C++ example plug-in from the installed
# examples with find_package(PLUME) in separate CMake projects, and runs the
# examples' end-to-end tests with them on both client variants.
#   build_against_sdk.sh BUILD_DIR TEST_EXE
set -euo pipefail
build="$1"; test_exe="$2"
root="$(cd "$(dirname "$0")/../.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
sdk="$work/sdk"

cmake --install "$build" --prefix "$sdk" >"$work/install.log"
if grep -rIl --exclude='*.a' -e "$build" -e "$root" "$sdk" >"$work/refs" 2>/dev/null; then
  echo "the installed SDK refers back to the build or source folder:" >&2
  cat "$work/refs" >&2
  exit 1
fi
for f in bin/plumesrv.dll bin/plumescript.dll bin/plume-setup.exe bin/plume-monitor.exe include/plume.h \
         include/plumeinit.h include/plume_plugin.h lib/plume.tlb lib/libplume_guids.a lib/cmake/PLUME/PLUMEConfig.cmake \
         share/plume/examples/cpp_plugin/stamp_plugin.cpp share/plume/cmake/mingw-w64.cmake; do
  [ -e "$sdk/$f" ] || { echo "the SDK lacks $f" >&2; exit 1; }
done

for example in cpp_plugin cpp_client selection_plugin; do
  cmake -S "$sdk/share/plume/examples/$example" -B "$work/$example" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$sdk/share/plume/cmake/mingw-w64.cmake" -DCMAKE_PREFIX_PATH="$sdk" \
    -DCMAKE_BUILD_TYPE=Release >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; exit 1; }
  cmake --build "$work/$example" >"$work/build.log" 2>&1 || { cat "$work/build.log"; exit 1; }
done
to_win() { (cd "$root" && . tools/wine-env.sh && winepath -w "$1" 2>/dev/null); }
plugin_win="$(to_win "$work/cpp_plugin/stamp_plugin.dll")"
client_win="$(to_win "$work/cpp_client/watch_client.exe")"
selection_win="$(to_win "$work/selection_plugin/selection_plugin.dll")"
scripts_win="$(to_win "$sdk/share/plume/examples/scripts")"

rc=0
for variant in oe wm; do
  "$root/tools/wine-run.sh" "$test_exe" --variant=$variant "--plugin=$plugin_win" "--client=$client_win" \
    "--scripts=$scripts_win" "--selection-plugin=$selection_win" || rc=1
done
exit $rc
