#!/usr/bin/env bash
# Installs the SDK into a fresh folder, checks that nothing in it refers back
# to the build folder, builds the examples from the installed SDK with
# find_package(PLUME) in separate CMake projects, and runs the examples'
# end-to-end tests with them on both client variants. Then, as a plug-in
# writer would, in a new Wine prefix and with the SDK alone: the example
# plug-in's own test against the sandbox, plume-sandbox with a script client
# reaching the library, and plume-setup list naming why a plug-in built
# without the static runtime does not load.
#   build_against_sdk.sh BUILD_DIR TEST_EXE
set -euo pipefail
build="$1"; test_exe="$2"
root="$(cd "$(dirname "$0")/../.." && pwd)"
work="$(mktemp -d)"
fresh="$work/prefix"
trap '(WINEPREFIX="$fresh" wineserver -k 2>/dev/null || true); rm -rf "$work"' EXIT
sdk="$work/sdk"

cmake --install "$build" --prefix "$sdk" >"$work/install.log"
if grep -rIl --exclude='*.a' -e "$build" -e "$root" "$sdk" >"$work/refs" 2>/dev/null; then
  echo "the installed SDK refers back to the build or source folder:" >&2
  cat "$work/refs" >&2
  exit 1
fi
for f in bin/plumesrv.dll bin/plumescript.dll bin/plume-setup.exe bin/plume-monitor.exe bin/plume-sandbox.exe \
         bin/plume-sandbox bin/plume-wine bin/msimn.exe bin/winmail.exe bin/msoe.dll bin/plumeinit.exe \
         bin/standin-seed.txt include/plume.h include/plumeinit.h include/plume_plugin.h include/plume_sandbox.h \
         lib/plume.tlb lib/libplume_guids.a lib/cmake/PLUME/PLUMEConfig.cmake share/plume/docs/standin.md \
         share/plume/docs/scripting.md share/plume/examples/cpp_plugin/stamp_plugin.cpp share/plume/cmake/mingw-w64.cmake; do
  [ -e "$sdk/$f" ] || { echo "the SDK lacks $f" >&2; exit 1; }
done

# plugin_test builds the selection plug-in beside its test.
for example in cpp_plugin cpp_client plugin_test; do
  cmake -S "$sdk/share/plume/examples/$example" -B "$work/$example" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$sdk/share/plume/cmake/mingw-w64.cmake" -DCMAKE_PREFIX_PATH="$sdk" \
    -DCMAKE_BUILD_TYPE=Release >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; exit 1; }
  cmake --build "$work/$example" >"$work/build.log" 2>&1 || { cat "$work/build.log"; exit 1; }
done
to_win() { (cd "$root" && . tools/wine-env.sh && winepath -w "$1" 2>/dev/null); }
plugin_win="$(to_win "$work/cpp_plugin/stamp_plugin.dll")"
client_win="$(to_win "$work/cpp_client/watch_client.exe")"
scripts_win="$(to_win "$sdk/share/plume/examples/scripts")"

rc=0
for variant in oe wm; do
  "$root/tools/wine-run.sh" "$test_exe" --variant=$variant "--plugin=$plugin_win" "--client=$client_win" \
    "--scripts=$scripts_win" || rc=1
done

# The writer's side, in a new prefix with nothing but the SDK.
export WINEPREFIX="$fresh" PLUME_HEADLESS=1
unset WINEDLLOVERRIDES
export WINEDEBUG=-all
export WINEARCH=win64
for variant in oe wm; do
  if "$sdk/bin/plume-wine" "$work/plugin_test/selection_plugin_test.exe" $variant \
       "$work/plugin_test/selection_plugin/selection_plugin.dll" >"$work/plugin_test.log" 2>&1 &&
     grep -q '^PASSED' "$work/plugin_test.log"; then
    echo "the example plug-in's own test passes in a new prefix ($variant)"
  else
    echo "the example plug-in's own test failed in a new prefix ($variant):" >&2
    cat "$work/plugin_test.log" >&2
    rc=1
  fi
done
# A plug-in that cannot load: linked against the shared C++ runtime.
cp "$build/bin/runtime_plugin.dll" "$work/runtime_plugin.dll"
runtime_win="Z:$(printf '%s' "$work/runtime_plugin.dll" | tr / '\\')"
"$sdk/bin/plume-wine" "$sdk/bin/plume-setup.exe" install --plugin NoRuntime="$runtime_win" >"$work/setup.log" 2>&1 || {
  cat "$work/setup.log" >&2; rc=1; }
cat > "$work/root.vbs" <<'VBS'
On Error Resume Next
Set root = CreateObject("PLUME.PLUMEObj")
id = root.GetID()
If Err.Number <> 0 Then
  WScript.Echo "no root object: " & Hex(Err.Number) & " " & Err.Description
Else
  WScript.Echo "root object " & id
End If
Set root = Nothing
Err.Clear
CreateObject("PLUMEStandin.Client").Quit
If Err.Number <> 0 Then WScript.Echo "the client was not asked to quit: " & Hex(Err.Number) & " " & Err.Description
VBS
for variant in oe wm; do
  "$sdk/bin/plume-sandbox" --variant $variant >"$work/sandbox.log" 2>&1 &
  sandbox=$!
  for _ in $(seq 1 180); do grep -q '^ready' "$work/sandbox.log" && break; kill -0 $sandbox 2>/dev/null || break; sleep 0.5; done
  wine cscript //nologo "$(winepath -w "$work/root.vbs")" >"$work/script.log" 2>&1 </dev/null || true
  if grep -q '^ready' "$work/sandbox.log" && grep -q '^root object [1-9]' "$work/script.log" &&
     timeout 60 tail --pid=$sandbox -f /dev/null; then
    echo "plume-sandbox --variant $variant: ready, and a script client got a root object"
  else
    echo "plume-sandbox --variant $variant did not serve a script client:" >&2
    cat "$work/sandbox.log" "$work/script.log" >&2
    echo "Windows programs still running:" >&2
    ps -eo pid,etime,args | grep -i '[.]exe' >&2 || true
    echo "Where the client's threads are:" >&2
    printf 'bt all\nquit\n' | timeout 60 wine winedbg 2>&1 |
      awk '/^Backtracing for thread/ { keep = /msimn|winmail|plumeinit|plumehost/ } keep' >&2 || true
    kill $sandbox 2>/dev/null || true
    rc=1
  fi
done
"$sdk/bin/plume-wine" "$sdk/bin/plume-setup.exe" list >"$work/list.log" 2>&1 || true
if grep -q 'not loaded: .*libstdc++-6.dll' "$work/list.log"; then
  echo "plume-setup list names why the plug-in without the static runtime does not load"
else
  echo "plume-setup list does not say why NoRuntime did not load:" >&2
  cat "$work/list.log" >&2
  rc=1
fi
exit $rc
