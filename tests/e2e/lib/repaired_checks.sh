#!/usr/bin/env bash
# Sourced after lib/seed_old_module.sh: what a prefix holds after a successful repair of the seeded
# old module, whatever the run's mode: the log moved into Orlyn\Common with its sections in order, none
# of the old module left, the new module written and registered. Each registry entry is read back from
# the view it belongs to (lib/program.sh): $program_view is the program's default view (the 32-bit one
# for the shipped 32-bit program under WoW64, which reaches the 64-bit one with KEY_WOW64_64KEY for its
# 64-bit entries; the 64-bit one for the 64-bit build, which writes no 64-bit entries of its own);
# HKCU\Software is one key in both views. Each failed expectation is printed and counted in $problems.
# Needs $ORLYN_WINE, $here, lib/program.sh's variables and the seed's.
problems=${problems:-0}
check() {  # check DESCRIPTION COMMAND...: records a failed expectation and goes on
  local what=$1; shift
  if ! "$@" >/dev/null 2>&1; then echo "FAIL: $what" >&2; problems=$((problems + 1)); fi
}
absent() { ! "$@"; }
reg_has() { "$ORLYN_WINE" reg query "$@"; }
in_order() {  # in_order FILE TEXT...: the texts occur in the file in this order
  local file=$1 last=0 line t; shift
  for t in "$@"; do
    line=$(grep -n -F -m1 -- "$t" "$file" | cut -d: -f1) || return 1
    [ -n "$line" ] && [ "$line" -gt "$last" ] || return 1
    last=$line
  done
}
scheme_has_handler() {  # the `tsl` scheme's command, machine-wide or else the user's, names TSL.exe
  { program_reg query 'HKLM\Software\Classes\tsl\Shell\Open\Command' /ve 2>/dev/null ||
    "$ORLYN_WINE" reg query 'HKCU\Software\Classes\tsl\Shell\Open\Command' /ve 2>/dev/null; } |
    grep -q -F '"C:\ProgramData\Orlyn\TSL\TSL.exe" "%1"'
}
protocol_execute_in() {  # the tsl scheme's ProtocolExecute key, in the root its scheme went to, in view $1
  local root
  for root in HKLM HKCU; do
    program_reg query "$root\\Software\\Classes\\tsl" >/dev/null 2>&1 || continue
    "$ORLYN_WINE" reg query "$root\\Software\\Microsoft\\Internet Explorer\\ProtocolExecute\\tsl" /v WarnOnOpen "/reg:$1"
    return
  done
  return 1
}
no_resume_entry() {  # no RunOnce entry of the program in either view
  local view
  for view in 32 64; do
    absent reg_has 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\RunOnce' /v OrlynComCleaner "/reg:$view" ||
      return 1
  done
}

# check_repaired_prefix ARCHIVED_LOG
check_repaired_prefix() {
  local archive_log=$1 c=$seed_c key gone pid i id name target rest path clsid uninstall preapproved
  # The log.
  check "log moved into Orlyn\\Common" test -f "$archive_log"
  check "no log left on the desktop" absent test -e "$c/users/Public/Desktop/OrlynRepair.log"
  if [ -f "$archive_log" ]; then
    check "log sections in order" in_order "$archive_log" "System Info" "모듈 체크 루틴" "기존 모듈 삭제 루틴" \
      "임시 인터넷 파일 삭제 루틴" "신규 모듈 설치 루틴"
    check "log records the holder being ended" grep -q "TslUpdater.exe" "$archive_log"
  fi

  # The old module is gone.
  for key in 'HKLM\SOFTWARE\Orlyn\TSL' 'HKLM\SOFTWARE\Orlyn\Shared'; do
    check "$key deleted from the program's view" absent reg_has "$key" "/reg:$program_view"
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

  # The new module is there.
  while IFS=$'\t' read -r id name target rest; do
    [ -n "${id// }" ] && [ "${id:0:1}" != "#" ] || continue
    path=${target//\$AppData\$/ProgramData}
    path=${path//\\//}
    check "payload $path written" test -s "$c/$path"
  done < <(sed 's/\r$//; s/\t\t*/\t/g' "$here/../../resources/payload_manifest.txt")
  check "new TSL.exe is not the old file" absent grep -q "MZ old" "$c/ProgramData/Orlyn/TSL/TSL.exe"
  check "tsl scheme opens the product folder's TSL.exe" scheme_has_handler
  uninstall='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{8D2C7F05-E6A3-4B19-92E8-D4B5A0C3617F}'
  check "uninstall entry in the program's view" reg_has "$uninstall" /v DisplayName "/reg:$program_view"
  check "no uninstall entry in the other view" absent reg_has "$uninstall" "/reg:$other_view"
  preapproved='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Ext\PreApproved'
  for clsid in '{080F7E03-AC50-4949-AACA-E79F82D3099F}' '{5D605A2B-ACDE-49CD-9642-7B268923ACD9}' \
               '{72B4B28B-9DF6-4E69-9E00-F1EE51001ADD}' '{871D8DC2-84A4-4D1F-99D5-2A4E3BE2E87C}' \
               '{A7B202AB-A508-4235-9C97-C25799782590}'; do
    check "PreApproved $clsid in the program's view" reg_has "$preapproved\\$clsid" "/reg:$program_view"
    check "PreApproved $clsid not in the other view" absent reg_has "$preapproved\\$clsid" "/reg:$other_view"
  done
  # The 64-bit controls: only a program under WoW64 writes them, into the 64-bit view; never the 32-bit one.
  for clsid in '{E16C6003-9217-4626-83B0-757C9EA47E53}' '{EF9547D2-97F6-412f-A886-BABD7005A4D8}'; do
    [ "$program_wow64" = no ] || check "PreApproved $clsid in the 64-bit view" reg_has "$preapproved\\$clsid" /reg:64
    check "PreApproved $clsid not in the 32-bit view" absent reg_has "$preapproved\\$clsid" /reg:32
  done
  check "ProtocolExecute key in the program's view" protocol_execute_in "$program_view"
  [ "$program_wow64" = no ] || check "ProtocolExecute key in the 64-bit view" protocol_execute_in 64
  check "machine key file" test -s "$c/ProgramData/Orlyn/Common/qrmk.dat"
  check "Chrome Local State keeps its other settings" grep -q '"last_known_version":"120.0"' "$seed_chrome/Local State"
}
