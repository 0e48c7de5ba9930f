#!/usr/bin/env bash
# Writes the stand-in mail client's settings into the Wine prefix: the
# install roots, the identity, the mail account (Internet Account Manager keys
# for Outlook Express, the account file under "Store Root" for Windows Mail),
# the send settings, the control channel's ProgID and the PLUMEInitObject
# server. Idempotent; called by tools/wine-prefix.sh.
#   --reset-store   also deletes the saved stores, so both variants start
#                   again from the seed file next to the executables.
set -euo pipefail
. "$(dirname "$0")/wine-env.sh"

bin_unix="$PLUME_BUILD/bin"
bin_win="$(winepath -w "$bin_unix" 2>/dev/null)"
identity='{A1B2C3D4-1111-2222-3333-444455556666}'
account_file='account{7A3C7E51-8E4B-4E0C-9D0A-2B5F0C1D4E21}.oeaccount'
oe_root='%USERPROFILE%\Local Settings\Application Data\Identities\'"$identity"'\Microsoft\Outlook Express\'
wm_root='%USERPROFILE%\AppData\Local\Microsoft\Windows Mail\'
control_clsid='{5E1D2C3B-7A4F-4C1E-9B2D-8F6A0C1E3D71}'
init_clsid='{12BAF052-264C-464B-9D58-C83B3781DD4C}'
list_clsid='{233A9692-667E-11D1-9DFB-006097D50408}'
store_clsid='{101A8FB9-F1B9-11D1-9A56-00C04FA309D4}'
namespace_clsid='{E70C92A9-4BFD-11D1-8A95-00C04FB951F3}'

# REG_EXPAND_SZ in REGEDIT4 syntax (bytes of the ANSI text).
expand_sz() { printf '%s\0' "$1" | od -An -tx1 -v | tr -s ' \n' ',' | sed 's/^,//; s/,$//'; }
# A .reg string: backslashes and quotes escaped.
q() { printf '"%s"' "$(printf '%s' "$1" | sed 's/\\/\\\\/g; s/"/\\"/g')"; }

account_keys() { # $1: key of the Internet Account Manager
  cat <<REG
[$1]
"Default Mail Account"="00000001"

[$1\\Accounts\\00000001]
"Account Name"="Vexlor Mail"
"Connection Type"=dword:00000003
"POP3 Server"="pop.vexlor.example"
"POP3 User Name"="jamie.rivera"
"SMTP Server"="smtp.vexlor.example"
"SMTP Display Name"="Jamie Rivera"
"SMTP Email Address"="jamie.rivera@vexlor.example"

REG
}

reg=$(mktemp --suffix=.reg)
{
  echo 'REGEDIT4'
  echo
  echo '[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Outlook Express]'
  echo "\"InstallRoot\"=$(q "$bin_win")"
  echo '"MediaVer"="6.0.3790.3959"'
  echo
  echo '[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows Mail]'
  echo "\"InstallRoot\"=$(q "$bin_win")"
  echo
  echo '[HKEY_CURRENT_USER\Identities]'
  echo "\"Last User ID\"=\"$identity\""
  echo "\"Default User ID\"=\"$identity\""
  echo '"Last Username"="Main Identity"'
  echo
  echo "[HKEY_CURRENT_USER\\Identities\\$identity]"
  echo '"Username"="Main Identity"'
  echo "\"User ID\"=\"$identity\""
  echo
  account_keys "HKEY_CURRENT_USER\\Identities\\$identity\\Software\\Microsoft\\Internet Account Manager"
  account_keys 'HKEY_CURRENT_USER\SOFTWARE\Microsoft\Internet Account Manager'
  echo "[HKEY_CURRENT_USER\\Identities\\$identity\\Software\\Microsoft\\Outlook Express\\5.0]"
  echo "\"Store Root\"=hex(2):$(expand_sz "$oe_root")"
  echo
  echo "[HKEY_CURRENT_USER\\Identities\\$identity\\Software\\Microsoft\\Outlook Express\\5.0\\Mail]"
  echo '"Send Mail Immediately"=dword:00000001'
  echo
  echo '[HKEY_CURRENT_USER\Software\Microsoft\Windows Mail]'
  echo "\"Store Root\"=hex(2):$(expand_sz "$wm_root")"
  echo
  echo '[HKEY_CURRENT_USER\Software\Microsoft\Windows Mail\Mail]'
  echo '"Send Mail Immediately"=dword:00000001'
  echo
  echo '[HKEY_CURRENT_USER\Software\Microsoft\IAM]'
  echo "\"Default Mail Account\"=\"$account_file\""
  echo
  echo '[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Internet Settings]'
  echo '"GlobalUserOffline"=dword:00000000'
  echo
  echo '[HKEY_CLASSES_ROOT\PLUMEStandin.Client]'
  echo '@="PLUME stand-in mail client control"'
  echo
  echo '[HKEY_CLASSES_ROOT\PLUMEStandin.Client\CLSID]'
  echo "@=\"$control_clsid\""
  echo
  echo "[HKEY_CLASSES_ROOT\\CLSID\\$control_clsid]"
  echo '@="PLUME stand-in mail client control"'
  echo
  echo "[HKEY_CLASSES_ROOT\\CLSID\\$control_clsid\\ProgID]"
  echo '@="PLUMEStandin.Client"'
  echo
  # The client's message-list, store and store namespace classes, created in-process from msoe.dll.
  for entry in "$list_clsid|Message List" "$store_clsid|Message Store" "$namespace_clsid|Store Namespace"; do
    echo "[HKEY_CLASSES_ROOT\\CLSID\\${entry%%|*}]"
    echo "@=\"${entry#*|}\""
    echo
    echo "[HKEY_CLASSES_ROOT\\CLSID\\${entry%%|*}\\InprocServer32]"
    echo "@=$(q "$bin_win\\msoe.dll")"
    echo '"ThreadingModel"="Both"'
    echo
  done
} > "$reg"
wine regedit /S "$(winepath -w "$reg")" >"$reg.log" 2>&1 </dev/null || { cat "$reg.log"; exit 1; }
rm -f "$reg" "$reg.log"

# The Windows Mail account file under "Store Root".
profile_win="$(wine cmd /c echo %USERPROFILE% 2>/dev/null </dev/null | tr -d '\r')"
profile_unix="$(winepath -u "$profile_win" 2>/dev/null)"
wm_store="$profile_unix/AppData/Local/Microsoft/Windows Mail"
oe_store="$profile_unix/Local Settings/Application Data/Identities/$identity/Microsoft/Outlook Express"
mkdir -p "$wm_store/Local Folders" "$oe_store"
cat > "$wm_store/Local Folders/$account_file" <<'XML'
<?xml version="1.0" encoding="utf-8"?>
<MessageAccount>
	<Account_Name type="SZ">Vexlor Mail</Account_Name>
	<Connection_Type type="DWORD">00000003</Connection_Type>
	<POP3_Server type="SZ">pop.vexlor.example</POP3_Server>
	<POP3_User_Name type="SZ">jamie.rivera</POP3_User_Name>
	<SMTP_Server type="SZ">smtp.vexlor.example</SMTP_Server>
	<SMTP_Display_Name type="SZ">Jamie Rivera</SMTP_Display_Name>
	<SMTP_Email_Address type="SZ">jamie.rivera@vexlor.example</SMTP_Email_Address>
</MessageAccount>
XML

# The PLUMEInitObject server registers its class and type library itself.
if [ -f "$bin_unix/plumeinit.exe" ]; then
  wine "$bin_unix/plumeinit.exe" /regserver >/dev/null 2>&1 </dev/null || true
fi

if [ "${1:-}" = "--reset-store" ]; then
  rm -f "$wm_store/standin-store.txt" "$oe_store/standin-store.txt"
fi
