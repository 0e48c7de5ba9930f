#!/usr/bin/env bash
# The state of ours in the Wine prefix that tests may change: the library's
# and the stand-in's registry keys and the files tests write into the
# prefix's temporary folder. A test run ends by comparing it with what it was
# before, so that a value left behind (an awaited plug-in count once kept the
# client from starting) fails the run instead of the next user.
#   tools/prefix-state.sh save FILE    writes the state to FILE
#   tools/prefix-state.sh check FILE   compares with FILE; exit 1 when changed
set -euo pipefail
. "$(dirname "$0")/wine-env.sh"

keys=(
  'HKEY_CURRENT_USER\Software\Vexlor'
  'HKEY_LOCAL_MACHINE\Software\Vexlor'
  'HKEY_CURRENT_USER\Identities'
  'HKEY_CURRENT_USER\Software\Microsoft\Internet Account Manager'
  'HKEY_CURRENT_USER\Software\Microsoft\Windows Mail'
  'HKEY_CURRENT_USER\Software\Microsoft\IAM'
  'HKEY_LOCAL_MACHINE\Software\Microsoft\Outlook Express'
  'HKEY_LOCAL_MACHINE\Software\Microsoft\Windows Mail'
  'HKEY_CLASSES_ROOT\TypeLib\{54B89298-879A-4086-B082-854D3EBFDCC3}'
)
for progid in PLUMEObj OEMsgWnd OEToolbar OEButton OEMenu OEMenuItem ScriptEvents; do
  keys+=("HKEY_CLASSES_ROOT\\PLUME.$progid")
done
for clsid in 12BAF138 12BAF15C 12BAF145 12BAF148 12BAF169 12BAF159 12BAF052; do
  keys+=("HKEY_CLASSES_ROOT\\CLSID\\{$clsid-264C-464B-9D58-C83B3781DD4C}")
done

state() {
  local tmp i; tmp=$(mktemp -d)
  # One batch in one Wine process: starting Wine once per key is slow.
  local tmp_win; tmp_win=$(winepath -w "$tmp")
  for i in "${!keys[@]}"; do
    printf 'reg export "%s" "%s\\%d.reg" /y >nul 2>nul\r\n' "${keys[$i]}" "$tmp_win" "$i"
  done > "$tmp/export.bat"
  wine cmd /c "$tmp_win\\export.bat" >/dev/null 2>&1 </dev/null || true
  # A key that came out missing is exported once more (one batch), so that a
  # failed export is not taken for a missing key.
  for i in "${!keys[@]}"; do
    [ -f "$tmp/$i.reg" ] || printf 'reg export "%s" "%s\\%d.reg" /y >nul 2>nul\r\n' "${keys[$i]}" "$tmp_win" "$i"
  done > "$tmp/again.bat"
  [ -s "$tmp/again.bat" ] && { wine cmd /c "$tmp_win\\again.bat" >/dev/null 2>&1 </dev/null || true; }
  for i in "${!keys[@]}"; do
    echo "== ${keys[$i]}"
    if [ -f "$tmp/$i.reg" ]; then
      # UTF-16 with CRLF; the header line carries nothing of ours.
      iconv -f UTF-16 -t UTF-8 "$tmp/$i.reg" | tr -d '\r' | grep -v '^Windows Registry Editor' | grep -v '^$'
    else
      echo "(absent)"
    fi
  done
  echo "== files of ours in the prefix's temporary folder"
  find "$WINEPREFIX/drive_c/users" -path '*/Temp/*' -iname '*plume*' 2>/dev/null | sort
  rm -rf "$tmp"
}

case "${1:-}" in
  save) state > "$2" ;;
  check)
    now=$(mktemp)
    state > "$now"
    if ! diff -u "$2" "$now" > "$now.diff"; then
      echo "The tests left the Wine prefix changed ($WINEPREFIX):" >&2
      cat "$now.diff" >&2
      rm -f "$now" "$now.diff"
      exit 1
    fi
    rm -f "$now" "$now.diff"
    echo "The Wine prefix holds the state of ours it held before the tests."
    ;;
  *) echo "usage: $0 save|check FILE" >&2; exit 2 ;;
esac
