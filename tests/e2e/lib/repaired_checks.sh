#!/usr/bin/env bash
# Sourced after lib/seed_old_module.sh: what a prefix holds after a successful repair of the seeded
# old module (the same expectations as whole_repair.sh): the log moved into Orlyn\Common with its
# sections in order, none of the old module left, the new module written and registered. Each failed
# expectation is printed and counted in $problems. Needs $ORLYN_WINE, $here and the seed's variables.
problems=${problems:-0}
check() {  # check DESCRIPTION COMMAND...: records a failed expectation and goes on
  local what=$1; shift
  if ! "$@" >/dev/null 2>&1; then echo "FAIL: $what" >&2; problems=$((problems + 1)); fi
}
absent() { ! "$@"; }
reg_has() { "$ORLYN_WINE" reg query "$@"; }
in_order() {  # in_order FILE TEXT...: the texts occur in the file in this order
  local file=$1 last=0 line; shift
  for t in "$@"; do
    line=$(grep -n -F -m1 -- "$t" "$file" | cut -d: -f1) || return 1
    [ -n "$line" ] && [ "$line" -gt "$last" ] || return 1
    last=$line
  done
}

# check_repaired_prefix ARCHIVED_LOG
check_repaired_prefix() {
  local archive_log=$1 c=$seed_c key gone pid i id name target rest path clsid
  check "log moved into Orlyn\\Common" test -f "$archive_log"
  check "no log left on the desktop" absent test -e "$c/users/Public/Desktop/OrlynRepair.log"
  if [ -f "$archive_log" ]; then
    check "log sections in order" in_order "$archive_log" "System Info" "모듈 체크 루틴" "기존 모듈 삭제 루틴" \
      "임시 인터넷 파일 삭제 루틴" "신규 모듈 설치 루틴"
    check "log records the holder being ended" grep -q "TslUpdater.exe" "$archive_log"
  fi
  for key in 'HKLM\SOFTWARE\Orlyn\TSL' 'HKLM\SOFTWARE\Orlyn\Shared'; do
    check "$key deleted" absent reg_has "$key"
  done
  check "old add-on state Blocked removed" absent reg_has "$seed_stats" /v Blocked
  check "old add-on state Flags removed" absent reg_has "$seed_stats" /v Flags
  for gone in OrlynOld/QrDownload OrlynOld/Shared OrlynOld/Plug/KVData ProgramData/Orlyn/OrlynPlug/linkinfo.dat \
              ProgramData/Orlyn/Common/settings.ini ProgramData/Orlyn/Common/Cache ProgramData/Orlyn/TSL/lang \
              ProgramData/Orlyn/TSL/update.lock; do
    check "$gone removed" absent test -e "$c/$gone"
  done
  for pid in $seed_pids; do
    for i in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    check "old module program $pid ended" absent kill -0 "$pid"
  done
  while IFS=$'\t' read -r id name target rest; do
    [ -n "${id// }" ] && [ "${id:0:1}" != "#" ] || continue
    path=${target//\$AppData\$/ProgramData}
    path=${path//\\//}
    check "payload $path written" test -s "$c/$path"
  done < <(sed 's/\r$//; s/\t\t*/\t/g' "$here/../../resources/payload_manifest.txt")
  check "new TSL.exe is not the old file" absent grep -q "MZ old" "$c/ProgramData/Orlyn/TSL/TSL.exe"
  check "tsl scheme opens the product folder's TSL.exe" scheme_has_handler
  check "uninstall entry" reg_has \
    'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{8D2C7F05-E6A3-4B19-92E8-D4B5A0C3617F}' /v DisplayName
  for clsid in '{080F7E03-AC50-4949-AACA-E79F82D3099F}' '{A7B202AB-A508-4235-9C97-C25799782590}'; do
    check "PreApproved $clsid" reg_has "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Ext\\PreApproved\\$clsid"
  done
  check "machine key file" test -s "$c/ProgramData/Orlyn/Common/qrmk.dat"
  check "Chrome Local State keeps its other settings" grep -q '"last_known_version":"120.0"' "$seed_chrome/Local State"
}
scheme_has_handler() {  # the `tsl` scheme's command, machine-wide or else the user's, names TSL.exe
  { "$ORLYN_WINE" reg query 'HKLM\Software\Classes\tsl\Shell\Open\Command' /ve 2>/dev/null ||
    "$ORLYN_WINE" reg query 'HKCU\Software\Classes\tsl\Shell\Open\Command' /ve 2>/dev/null; } |
    grep -q -F '"C:\ProgramData\Orlyn\TSL\TSL.exe" "%1"'
}
