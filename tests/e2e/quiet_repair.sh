#!/usr/bin/env bash
# A quiet repair (/quiet) by the real OrlynRepair.exe on a prefix of its own seeded with a broken old
# module (lib/seed_old_module.sh), as a deployment tool starts it: nobody at the screen. No window may
# be shown on the display at any time (lib/window_watch.sh), the exit code must be 0, the log and the
# registry and disk must be as after the interactive repair (lib/repaired_checks.sh), the log must say
# what was answered in place of the person, and /log must have received a copy of the final log.
# First, as a check that the watch sees what a person would: /? shows the usage box, exit code 0.
# Usage: quiet_repair.sh BIN_DIR (with OrlynRepair.exe, exit_code_of.exe, answer_message_box.exe,
# hold_file.exe).
set -euo pipefail
source "$(dirname "$0")/lib/prefix.sh" "$1" seeded running
install_program
mkdir -p "$c/fleet logs"
copy_log="$c/fleet logs/pc 01.log"
# exit_code_of.exe prints the whole exit code (a Unix exit status keeps only its low 8 bits).
run_for_code() { "$ORLYN_WINE" "$bin/exit_code_of.exe" "$@" 2>/dev/null | tr -d '\r'; }

echo "== the usage box is seen by the watch"
start_window_watch
run_for_code 'C:\OrlynRepair.exe' '/?' >"$tmp/usage_code.txt" &
usage=$!
text=$(answer 60000 ok) || fail "no usage box for /?"
wait "$usage"
stop_window_watch
case "$text" in *"/quiet"*"/forcerestart"*"3010"*) ;; *) fail "the usage box lists no switches: $text" ;; esac
[ "$(cat "$tmp/usage_code.txt")" = 0 ] || fail "/? ended with $(cat "$tmp/usage_code.txt"), not 0"
[ -n "$(shown_windows)" ] || fail "the window watch did not see the usage box"

echo "== quiet repair"
start_window_watch
code=$(run_for_code 'C:\OrlynRepair.exe' /quiet /log 'C:\fleet logs\pc 01.log')
stop_window_watch

problems=0
source "$here/lib/repaired_checks.sh"
[ "$code" = 0 ] || { echo "FAIL: exit code $code, not 0" >&2; problems=$((problems + 1)); }
shown=$(shown_windows)
[ -z "$shown" ] || { echo "FAIL: windows were shown: $shown" >&2; problems=$((problems + 1)); }
check_repaired_prefix "$archive_log"
if [ -f "$archive_log" ]; then
  check "log: answers in place of the person, in order" in_order "$archive_log" \
    "시작 확인에 사용자 대신 '확인'으로 응답하였습니다" \
    "종료 알림을 표시하지 않고 프로그램을 종료합니다. (TslUpdater.exe 프로그램이 C:\\ProgramData\\Orlyn\\TSL\\update.lock 를" \
    "서버 접속 경고를 표시하지 않았습니다" "복구 성공 메시지에 사용자 대신 '아니요'로 응답하였습니다"
  check "the /log copy is the final log" cmp "$archive_log" "$copy_log"
fi
check "no RunOnce entry" no_resume_entry

if [ "$problems" -ne 0 ]; then
  [ -f "$archive_log" ] && { echo "--- log" >&2; sed 's/\r$//' "$archive_log" >&2; }
  fail "$problems expectation(s) not met"
fi
echo "PASS"
