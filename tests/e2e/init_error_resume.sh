#!/usr/bin/env bash
# The real OrlynRepair.exe started as after a restart (--start) on a prefix seeded with a broken old
# module, with a temporary folder that cannot be written: initialisation error #2. A person reads the
# error box for four seconds before pressing OK, long after the page has loaded and a resumed start's
# timer would have fired behind the box. Nothing of the old module may be touched, no other box may
# appear, the program must end and its log must be gone.
# Usage: init_error_resume.sh BIN_DIR (with OrlynRepair.exe and answer_message_box.exe).
set -euo pipefail
source "$(dirname "$0")/lib/prefix.sh" "$1" seeded
install_program

# A drive that does not exist: the manifest cannot be written to the temporary folder.
"$ORLYN_WINE" cmd /c 'set TMP=Q:\no\such&& set TEMP=Q:\no\such&& C:\OrlynRepair.exe --start' >/dev/null 2>&1 &
run=$!
deadline=$((SECONDS + 180))
while kill -0 "$run" 2>/dev/null; do
  [ $SECONDS -lt $deadline ] || fail "the program did not end; prompts seen: $(cat "$transcript")"
  text=$(answer 1000 show 2>/dev/null) || continue
  [ -n "$text" ] || continue
  case "$text" in
    *"복구에 성공했습니다"* | *"재설치 과정에 문제가 발생하였습니다"*) action=no ;;
    *"다시 시도하시겠습니까"*) action=cancel ;;
    *) action=ok ;;
  esac
  printf '%s\n-- %s\n' "$text" "$action" >>"$transcript"
  # The person reads the error: the box stays up while the dialog's messages are served behind it.
  case "$text" in *"초기화 에러"*) sleep 4 ;; esac
  answer 10000 "$action" >/dev/null 2>&1 || true
done
wait "$run" || true

problems=0
source "$here/lib/repaired_checks.sh"  # check, absent, reg_has, no_resume_entry

check "the start confirmation was shown" grep -q "지금 복구를 시작할까요" "$transcript"
check "initialisation error #2 was shown" grep -q "초기화 에러 #2 : 설치 파일 목록 리스트 파일에 문제가 있습니다." "$transcript"
check "exactly two boxes" test "$(grep -c '^-- ' "$transcript")" -eq 2
# The old module's keys are in the view the program reads (lib/program.sh).
check "old module key HKLM\SOFTWARE\Orlyn\TSL untouched" reg_has 'HKLM\SOFTWARE\Orlyn\TSL' /v QrDownload "/reg:$program_view"
check "old module key HKLM\SOFTWARE\Orlyn\Shared untouched" reg_has 'HKLM\SOFTWARE\Orlyn\Shared' /ve "/reg:$program_view"
check "old module key HKLM\SOFTWARE\Orlyn\OrlynPlug untouched" reg_has 'HKLM\SOFTWARE\Orlyn\OrlynPlug' /v RootPath "/reg:$program_view"
check "old add-on state untouched" reg_has "$seed_stats" /v Blocked
check "old module files untouched" test -f "$c/ProgramData/Orlyn/TSL/TSL.exe"
check "old module folders untouched" test -f "$c/OrlynOld/QrDownload/parts/p1.bin"
check "no log on the desktop" absent test -e "$c/users/Public/Desktop/OrlynRepair.log"
check "no log archived" absent test -e "$c/ProgramData/Orlyn/Common/OrlynRepair.log"
check "no RunOnce entry" no_resume_entry
check "nothing installed" absent test -e "$c/ProgramData/Orlyn/TSL/TSLResource.dll"

if [ "$problems" -ne 0 ]; then
  echo "prompts seen:" >&2; cat "$transcript" >&2
  exit 1
fi
echo "init_error_resume: ok"
