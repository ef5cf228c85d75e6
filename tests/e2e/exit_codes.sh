#!/usr/bin/env bash
# Exit codes of the real OrlynRepair.exe that only a failing or interrupted run returns, read from its
# own process (exit_code_of.exe prints the whole code; a Unix exit status keeps only the low 8 bits):
#   1. 1603: /quiet on a prefix where the payload's folder cannot be made (C:\ProgramData\Orlyn is a
#      file): the install fails, is not retried, and the log stays on the desktop.
#   2. 1602: /passive, and the person closes the dialog with its exit button during a phase.
# 1618 (another copy repairing) is read in one_repair_at_a_time.sh.
# Usage: exit_codes.sh BIN_DIR (with OrlynRepair.exe and exit_code_of.exe).
set -euo pipefail
source "$(dirname "$0")/lib/prefix.sh" "$1"
install_program
run_for_code() { "$ORLYN_WINE" "$bin/exit_code_of.exe" "$@" 2>/dev/null | tr -d '\r'; }

echo "== 1603: the install cannot write the payload's folder"
mkdir -p "$c/ProgramData"
rm -rf "$c/ProgramData/Orlyn"
echo "not a folder" >"$c/ProgramData/Orlyn"
code=$(run_for_code "$program" /quiet)
[ "$code" = 1603 ] || fail "exit code '$code', not 1603"
[ -f "$desktop_log" ] || fail "the failed run's log did not stay on the desktop"
grep -q "신규 모듈을 설치하는 중에 에러가 발생하였습니다" "$desktop_log" ||
  fail "the log does not say that the install failed"
rm -f "$c/ProgramData/Orlyn" "$desktop_log"

echo "== 1602: the dialog closed during a phase"
title="오를린 에러복구 프로그램"
run_for_code "$program" /passive >"$tmp/code.txt" &
run=$!
# Once the check has begun, the dialog's exit button (9 by 9 pixels, 10 from the right edge, in the
# middle of the 29-pixel title bar) is clicked as a person would.
deadline=$((SECONDS + 120))
until [ -f "$desktop_log" ] && grep -q "모듈 체크 루틴" "$desktop_log"; do
  [ $SECONDS -lt $deadline ] || fail "the check did not begin"
  sleep 0.05
done
dialog=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -1)
[ -n "$dialog" ] || fail "no dialog on the screen"
xdotool mousemove --window "$dialog" 485 14 click 1
wait "$run" || true
code=$(cat "$tmp/code.txt")
[ "$code" = 1602 ] || fail "exit code '$code', not 1602"
grep -q "신규 모듈 설치 루틴" "$desktop_log" && fail "the run went on to the install after the dialog was closed"
echo "PASS"
