#!/usr/bin/env bash
# Two copies of the real OrlynRepair.exe at once, in both orders of start, on a prefix seeded with a
# broken old module. The second copy must touch nothing of the first's (its log on the desktop, its
# RunOnce entry) and end at once with 1618: shown nothing when unattended, one box when interactive.
# The first copy ends as if it had run alone.
#   1. An interactive copy, held at its sign-on reachability warning (the log is half written), and
#      a /quiet copy started meanwhile.
#   2. A /quiet copy, and an interactive copy started while it repairs.
#      The quiet copy is held still (suspend_process.exe) from the moment its log exists until the
#      second has ended, so that the two certainly overlap.
# Usage: one_repair_at_a_time.sh BIN_DIR (with OrlynRepair.exe, exit_code_of.exe, answer_message_box.exe,
# suspend_process.exe).
set -euo pipefail
source "$(dirname "$0")/lib/prefix.sh" "$1" seeded
install_program
run_for_code() { "$ORLYN_WINE" "$bin/exit_code_of.exe" "$@" 2>/dev/null | tr -d '\r'; }
runonce='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\RunOnce'
# The first copy's RunOnce entry (as left for a resumed run), in the program's own view.
resume_entry() { program_reg query "$runonce" /v OrlynComCleaner 2>/dev/null | tr -d '\r' | grep REG_SZ || true; }
program_reg add "$runonce" /v OrlynComCleaner /d '"C:\first copy\OrlynRepair.exe" --start' /f \
  >/dev/null 2>&1 || fail "could not write the first copy's RunOnce entry"
first_entry=$(resume_entry)

echo "== an interactive copy runs; a /quiet copy is started"
second_checked=no
on_prompt() {
  case "$1" in *"로그인이 실패할 경우"*) ;; *) return 0 ;; esac
  cp "$desktop_log" "$tmp/first.log"
  start_window_watch
  local t0=$SECONDS code
  code=$(run_for_code "$program" /quiet)
  stop_window_watch
  [ "$code" = 1618 ] || fail "the second copy ended with '$code', not 1618"
  [ $((SECONDS - t0)) -lt 30 ] || fail "the second copy took $((SECONDS - t0)) s to stand down"
  [ -z "$(shown_windows)" ] || fail "the quiet second copy showed windows: $(shown_windows)"
  cmp -s "$desktop_log" "$tmp/first.log" || fail "the second copy changed the first copy's log"
  [ "$(resume_entry)" = "$first_entry" ] || fail "the second copy changed the RunOnce entry: $(resume_entry)"
  second_checked=yes
}
run_for_code "$program" >"$tmp/first_code.txt" &
first=$!
answer_prompts "$first" "$transcript"
wait "$first" || true
[ "$second_checked" = yes ] || fail "the first copy never showed its reachability warning: $(cat "$transcript")"
[ "$(cat "$tmp/first_code.txt")" = 0 ] || fail "the first copy ended with '$(cat "$tmp/first_code.txt")', not 0"
grep -q "신규 모듈 설치 루틴" "$archive_log" 2>/dev/null || fail "the first copy's log did not reach Orlyn\\Common"
grep -q "무인 복구" "$archive_log" && fail "the quiet second copy's lines are in the first copy's log"

echo "== a /quiet copy runs; an interactive copy is started"
rm -f "$archive_log"
run_for_code "$program" /quiet >"$tmp/first_code.txt" &
first=$!
wait_file "$desktop_log" || fail "the quiet copy did not begin"
# Held still in the middle of its repair (as a slow PC would keep it there) while the second starts.
"$ORLYN_WINE" "$bin/suspend_process.exe" OrlynRepair.exe suspend >/dev/null 2>&1 || fail "could not hold the quiet copy"
held=$(cat "$desktop_log" | md5sum)
run_for_code "$program" >"$tmp/second_code.txt" &
second=$!
text=$(answer 60000 ok) || fail "the interactive second copy showed no box"
[ "$(printf '%s' "$text" | tr -d '\r')" = "$(printf '이미 복구가 진행 중입니다.\n진행 중인 복구가 끝난 후 다시 시도해 주세요.')" ] ||
  fail "the second copy's box says: $text"
wait "$second" || true
[ "$(cat "$tmp/second_code.txt")" = 1618 ] || fail "the second copy ended with '$(cat "$tmp/second_code.txt")', not 1618"
[ "$(cat "$desktop_log" | md5sum)" = "$held" ] || fail "the second copy changed the quiet copy's log"
"$ORLYN_WINE" "$bin/suspend_process.exe" OrlynRepair.exe resume >/dev/null 2>&1 || fail "the quiet copy is gone"
wait "$first" || true
[ "$(cat "$tmp/first_code.txt")" = 0 ] || fail "the quiet copy ended with '$(cat "$tmp/first_code.txt")', not 0"
grep -q "시작 확인에 사용자 대신 '확인'으로 응답하였습니다" "$archive_log" || fail "the quiet copy's log is not in Orlyn\\Common"
grep -q "신규 모듈 설치 루틴" "$archive_log" || fail "the quiet copy's log has no install section"
echo "PASS"
