#!/usr/bin/env bash
# A whole repair by the real OrlynRepair.exe on a prefix of its own seeded with a broken old module
# (lib/seed_old_module.sh): registry rows and folders of the old module, read-only files, a program
# holding one of its files, a program named like one of the module's, and a Chrome Local State that
# excludes the `tsl` scheme. The prompts are answered as a user would: start, OK on the notice before
# the holding program is ended and on the sign-on reachability warning (the server never resolves
# here), No on the home page. Afterwards the log must have been moved into Orlyn\Common with its
# sections in order, and the registry and disk must hold the new module and none of the old. The program
# is the shipped 32-bit one on 64-bit Windows (WoW64): each registry entry is read back from the view it
# belongs to (/reg:32 is the program's default view, /reg:64 the one it reaches with KEY_WOW64_64KEY).
# Usage: whole_repair.sh BIN_DIR (with OrlynRepair.exe, answer_message_box.exe, hold_file.exe).
set -euo pipefail
bin=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/prefix.sh"
source "$here/lib/prompts.sh"
source "$here/lib/seed_old_module.sh"
start_old_module_processes || fail "the old module's programs did not start"

c="$WINEPREFIX/drive_c"
is_32bit_program "$bin/OrlynRepair.exe" || fail "$bin/OrlynRepair.exe is not the shipped 32-bit program"
cp "$bin/OrlynRepair.exe" "$c/OrlynRepair.exe"
archive_log="$c/ProgramData/Orlyn/Common/OrlynRepair.log"
transcript=$tmp/prompts.txt
: >"$transcript"

"$ORLYN_WINE" 'C:\OrlynRepair.exe' >/dev/null 2>&1 &
run=$!
answer_prompts "$run" "$transcript"
wait "$run" || fail "the program ended with $?"

problems=0
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

# The prompts a user saw, in order.
check "prompts: start, holder notice, reachability warning, success" in_order "$transcript" \
  "지금 복구를 시작할까요" "update.lock" "로그인이 실패할 경우" "복구에 성공했습니다"
check "no failure or restart prompt" absent grep -q -e "다시 시도하시겠습니까" -e "재설치 과정에" "$transcript"

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
  check "$key deleted from the 32-bit view" absent reg_has "$key" /reg:32
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
scheme_has_handler() {  # the `tsl` scheme's command, machine-wide or else the user's, names TSL.exe
  { "$ORLYN_WINE" reg query 'HKLM\Software\Classes\tsl\Shell\Open\Command' /ve /reg:32 2>/dev/null ||
    "$ORLYN_WINE" reg query 'HKCU\Software\Classes\tsl\Shell\Open\Command' /ve 2>/dev/null; } |
    grep -q -F '"C:\ProgramData\Orlyn\TSL\TSL.exe" "%1"'
}
check "tsl scheme opens the product folder's TSL.exe" scheme_has_handler
uninstall='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{8D2C7F05-E6A3-4B19-92E8-D4B5A0C3617F}'
check "uninstall entry in the 32-bit view" reg_has "$uninstall" /v DisplayName /reg:32
check "no uninstall entry in the 64-bit view" absent reg_has "$uninstall" /reg:64
preapproved='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Ext\PreApproved'
for clsid in '{080F7E03-AC50-4949-AACA-E79F82D3099F}' '{5D605A2B-ACDE-49CD-9642-7B268923ACD9}' \
             '{72B4B28B-9DF6-4E69-9E00-F1EE51001ADD}' '{871D8DC2-84A4-4D1F-99D5-2A4E3BE2E87C}' \
             '{A7B202AB-A508-4235-9C97-C25799782590}'; do
  check "PreApproved $clsid in the 32-bit view" reg_has "$preapproved\\$clsid" /reg:32
  check "PreApproved $clsid not in the 64-bit view" absent reg_has "$preapproved\\$clsid" /reg:64
done
for clsid in '{E16C6003-9217-4626-83B0-757C9EA47E53}' '{EF9547D2-97F6-412f-A886-BABD7005A4D8}'; do
  check "PreApproved $clsid in the 64-bit view" reg_has "$preapproved\\$clsid" /reg:64
  check "PreApproved $clsid not in the 32-bit view" absent reg_has "$preapproved\\$clsid" /reg:32
done
protocol_execute_in() {  # the tsl scheme's ProtocolExecute key, in the root its scheme went to, in view $1
  local root
  for root in HKLM HKCU; do
    "$ORLYN_WINE" reg query "$root\\Software\\Classes\\tsl" /reg:32 >/dev/null 2>&1 || continue
    "$ORLYN_WINE" reg query "$root\\Software\\Microsoft\\Internet Explorer\\ProtocolExecute\\tsl" /v WarnOnOpen "/reg:$1"
    return
  done
  return 1
}
check "ProtocolExecute key in the 32-bit view" protocol_execute_in 32
check "ProtocolExecute key in the 64-bit view" protocol_execute_in 64
check "machine key file" test -s "$c/ProgramData/Orlyn/Common/qrmk.dat"
check "Chrome Local State keeps its other settings" grep -q '"last_known_version":"120.0"' "$seed_chrome/Local State"

if [ "$problems" -ne 0 ]; then
  echo "--- prompts" >&2; cat "$transcript" >&2
  [ -f "$archive_log" ] && { echo "--- log" >&2; sed 's/\r$//' "$archive_log" >&2; }
  fail "$problems expectation(s) not met"
fi
echo "PASS"
