#!/usr/bin/env bash
# The first thing to run: installs what is needed, builds, starts the stand-in
# mail client (with plumesrv.dll next to it) on a display, drives it through
# its control object with a script, prints what happens and saves
# screenshots under build/demo/. Without a DISPLAY it starts Xvfb.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
export PLUME_BUILD="${PLUME_BUILD:-$root/build}"
"$root/tools/install-packages.sh" --demo
"$root/tools/build.sh"

# A prefix of its own with the normal X11 driver (the test prefix is headless).
export WINEPREFIX="$PLUME_BUILD/wineprefix-x11"
. "$root/tools/wine-env.sh"
# A client killed in an earlier run leaves its class object registered with
# the prefix's COM service; start that prefix's server afresh.
wineserver -k 2>/dev/null || true
PLUME_DISPLAY=1 "$root/tools/wine-prefix.sh" >/dev/null
# The library and the script helper, registered as their installer does.
for dll in plumesrv plumescript; do
  wine regsvr32 /s "$(winepath -w "$PLUME_BUILD/bin/$dll.dll")" >/dev/null 2>&1 </dev/null
done
# Wine draws the window frames itself (there may be no window manager).
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1 </dev/null
# Chinese and Japanese subjects: the dialog fonts fall back to a CJK font of
# the system (fonts-wqy-microhei) instead of drawing boxes.
for face in "Tahoma" "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif" "Segoe UI"; do
  wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v "$face" \
    /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f >/dev/null 2>&1 </dev/null
done
export LANG=C.UTF-8 LC_ALL=C.UTF-8

xvfb_pid=""
if [ -z "${DISPLAY:-}" ]; then
  export DISPLAY=:87
  Xvfb "$DISPLAY" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  sleep 1
fi
out="$PLUME_BUILD/demo"
mkdir -p "$out"
client_pid=""
cleanup() {
  if [ -n "$client_pid" ]; then kill "$client_pid" 2>/dev/null || true; wineserver -k 2>/dev/null || true; fi
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

# The script host writes in the console's code page (437 here), not UTF-8.
from_script() { iconv -f CP437 -t UTF-8 | tr -d '\r'; }
run_step() { # $1: demo script, $2: step, more: its arguments; fails when the step does not finish
  local script; script="$(winepath -w "$root/tools/demo/$1")"; shift
  local log; log=$(wine cscript //nologo "$script" "$@" 2>&1 </dev/null | from_script)
  printf '%s\n' "$log" | { grep -av '^STEP OK' || true; } | sed 's/^/  /'
  printf '%s\n' "$log" | grep -aq "^STEP OK $1\$" || { echo "demo step '$1' failed" >&2; exit 1; }
}
step() { run_step standin-demo.vbs "$1"; }
shot() { import -window root "$out/$1.png" && echo "  screenshot: $out/$1.png"; }
wait_for_client() { # true once the control object answers; false when the client is gone or silent
  for _ in $(seq 1 60); do
    kill -0 "$client_pid" 2>/dev/null || return 1
    wine cscript //nologo "$(winepath -w "$out/ping.vbs")" 2>/dev/null </dev/null | grep -q PONG && return 0
    sleep 0.2
  done
  return 1
}
start_client() { # $1: executable; further arguments go to the client
  local exe=$1; shift
  wine "$PLUME_BUILD/bin/$exe.exe" /resetstore /nosave "$@" >"$out/$exe-wine.log" 2>&1 </dev/null &
  client_pid=$!
  wait_for_client
}
client_failed() { # the demo is the product's smoke test: a client that does not come up with the library fails it
  local exe=$1 why="its control object never answered (the client hangs in start-up)"
  if ! kill -0 "$client_pid" 2>/dev/null; then
    why="the process ended"
  elif wine cscript //nologo "$(winepath -w "$out/ping.vbs")" 2>/dev/null </dev/null | grep -q PONG; then
    why="it runs without the library (plumesrv.dll missing, or StartServer not reached)"
  fi
  {
    echo "demo failed: $exe.exe did not come up with plumesrv.dll loaded: $why."
    echo "Last lines of its output ($out/$exe-wine.log):"
    tail -n 15 "$out/$exe-wine.log" | sed 's/^/  /'
  } >&2
  exit 1
}
printf 'Set c = CreateObject("PLUMEStandin.Client")\nWScript.Echo "PONG " & c.ProcessId & " " & c.LibraryStarted\n' > "$out/ping.vbs"
toolbar_step() { run_step toolbar-demo.vbs "$1" "$(winepath -w "$root/tools/demo/images")"; }
menu_step() { run_step menu-demo.vbs "$1"; }

for exe in msimn winmail; do
  echo "== $exe.exe"
  # The waits below look for a plug-in's first line in its log: a log left by
  # an earlier run would satisfy them before the new plug-in has started
  # (a background job truncates its log only once it runs).
  rm -f "$out/$exe-"*.log
  start_client "$exe" || client_failed "$exe"
  wine cscript //nologo "$(winepath -w "$out/ping.vbs")" 2>/dev/null </dev/null | grep -q "PONG .* True" ||
    client_failed "$exe"
  # A plug-in script listens to the library's events while the user works.
  monitor_log="$out/$exe-plugin.log"
  seconds=20
  wine cscript //nologo "$(winepath -w "$root/examples/scripts/event_monitor.vbs")" "$seconds" >"$monitor_log" 2>&1 </dev/null &
  monitor_pid=$!
  for _ in $(seq 1 50); do grep -q "connected" "$monitor_log" 2>/dev/null && break; sleep 0.2; done
  # A second plug-in stamps new messages and stops a Send without a subject;
  # it lives through the steps that show it also on a slow machine.
  stamper_log="$out/$exe-stamper.log"
  wine cscript //nologo "$(winepath -w "$root/examples/scripts/subject_stamper.vbs")" 90 >"$stamper_log" 2>&1 </dev/null &
  stamper_pid=$!
  for _ in $(seq 1 50); do grep -q "stamping" "$stamper_log" 2>/dev/null && break; sleep 0.2; done
  # The SDK's event monitor prints everything the object model raises.
  plume_monitor_log="$out/$exe-plume-monitor.log"
  wine "$PLUME_BUILD/bin/plume-monitor.exe" --seconds "$seconds" >"$plume_monitor_log" 2>&1 </dev/null &
  plume_monitor_pid=$!
  for _ in $(seq 1 50); do grep -q "listening on Root" "$plume_monitor_log" 2>/dev/null && break; sleep 0.2; done
  # A third plug-in prints the subjects of the messages the user selects.
  reader_log="$out/$exe-selection.log"
  wine cscript //nologo "$(winepath -w "$root/examples/scripts/selection_reader.vbs")" 8 >"$reader_log" 2>&1 </dev/null &
  reader_pid=$!
  for _ in $(seq 1 50); do grep -q "following" "$reader_log" 2>/dev/null && break; sleep 0.2; done
  toolbar_step toolbar; sleep 0.5; shot "$exe-0-toolbar"
  step overview; shot "$exe-1-main"
  step select; shot "$exe-1-selected"
  step store; shot "$exe-1-store"
  wait "$reader_pid" 2>/dev/null || true
  echo "  What the selection reader heard:"
  from_script <"$reader_log" | grep -a '^plug-in:' | sed 's/^/  /'
  # A plug-in sends the selected message again; Send/Receive delivers the copy.
  wine cscript //nologo "$(winepath -w "$root/examples/scripts/send_selected.vbs")" 2>&1 </dev/null |
    from_script | grep -a '^plug-in:' | sed 's/^/  /'
  step resend; shot "$exe-1-resent"

  step open; shot "$exe-2-read"
  step compose; shot "$exe-3-compose"
  step menu
  step send; shot "$exe-4-sent"
  step nosubject; shot "$exe-5-cancelled"; step closeall
  # A fourth plug-in adds menu items; the user opens and chooses them.
  menus_log="$out/$exe-menus.log"
  wine cscript //nologo "$(winepath -w "$root/examples/scripts/menu_items.vbs")" 60 >"$menus_log" 2>&1 </dev/null &
  menus_pid=$!
  for _ in $(seq 1 300); do grep -q "menu items ready" "$menus_log" 2>/dev/null && break; sleep 0.2; done
  grep -q "menu items ready" "$menus_log" || { echo "demo failed: the menu plug-in did not start within 60 s" >&2; exit 1; }
  menu_step open; sleep 0.5; shot "$exe-6-menu"
  menu_step choose
  wait "$menus_pid" 2>/dev/null || true
  echo "  What the menu plug-in did:"
  from_script <"$menus_log" | grep -a '^plug-in:' | sed 's/^/  /'
  wait "$plume_monitor_pid" 2>/dev/null || true
  echo "  What plume-monitor printed (first lines):"
  head -n 12 "$plume_monitor_log" | sed 's/^/  /'
  wait "$monitor_pid" 2>/dev/null || true
  echo "  What the event monitor heard:"
  from_script <"$monitor_log" | grep -a '^plug-in:' | sed 's/^/  /'
  wait "$stamper_pid" 2>/dev/null || true
  echo "  What the subject stamper did:"
  from_script <"$stamper_log" | grep -a '^plug-in:' | sed 's/^/  /'
  step quit
  wait "$client_pid" 2>/dev/null || true
  client_pid=""
done
rm -f "$out/ping.vbs"
echo "Screenshots are in $out"
