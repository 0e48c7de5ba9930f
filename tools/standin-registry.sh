#!/usr/bin/env bash
# Installs the stand-in mail client into the Wine prefix as its installer
# would (`msimn.exe /install`): the install roots, the identity, the mail
# account (Internet Account Manager keys for Outlook Express, the account file
# under "Store Root" for Windows Mail), the send settings, the client's
# classes, the control channel's ProgID, Wine's per-program Windows versions
# of the two variants and the PLUMEInitObject server. Idempotent; called by
# tools/wine-prefix.sh.
#   --reset-store   also deletes the saved stores, so both variants start
#                   again from the seed file next to the executables.
set -euo pipefail
. "$(dirname "$0")/wine-env.sh"

exe="$PLUME_BUILD/bin/msimn.exe"
if [ ! -f "$exe" ]; then
  echo "standin-registry.sh: $exe is not built yet; nothing installed" >&2
  exit 0
fi
args=(/install)
[ "${1:-}" = "--reset-store" ] && args+=(/resetstore)
log=$(mktemp)
if ! wine "$exe" "${args[@]}" >"$log" 2>&1 </dev/null; then
  cat "$log" >&2
  rm -f "$log"
  echo "standin-registry.sh: msimn.exe /install failed in $WINEPREFIX" >&2
  exit 1
fi
rm -f "$log"
