#!/usr/bin/env bash
# A passive repair (/passive) by the real OrlynRepair.exe on a prefix of its own seeded with a broken
# old module: the repair dialog with its progress bar is shown and nothing else, no message box at
# all (lib/window_watch.sh sees every window shown; any box would also be caught and answered by
# lib/prompts.sh so that the run cannot hang), the exit code is 0 and the prefix is repaired as by the
# interactive run (lib/repaired_checks.sh).
# Usage: passive_repair.sh BIN_DIR (with OrlynRepair.exe, exit_code_of.exe, answer_message_box.exe,
# hold_file.exe).
set -euo pipefail
source "$(dirname "$0")/lib/prefix.sh" "$1" seeded running
install_program

start_window_watch
"$ORLYN_WINE" "$bin/exit_code_of.exe" 'C:\OrlynRepair.exe' /passive 2>/dev/null | tr -d '\r' >"$tmp/code.txt" &
run=$!
answer_prompts "$run" "$transcript"
wait "$run" || true
stop_window_watch
code=$(cat "$tmp/code.txt")

problems=0
source "$here/lib/repaired_checks.sh"
[ "$code" = 0 ] || { echo "FAIL: exit code '$code', not 0" >&2; problems=$((problems + 1)); }
if [ -s "$transcript" ]; then
  echo "FAIL: message boxes were shown:" >&2
  cat "$transcript" >&2
  problems=$((problems + 1))
fi
shown=$(shown_windows)
# The dialog is the one window shown: 500 by 233, centred on the work area.
if [ "$(printf '%s\n' "$shown" | grep -c .)" != 1 ] || ! printf '%s\n' "$shown" | grep -q " 500x233+"; then
  echo "FAIL: the shown windows are not the dialog alone: $shown" >&2
  problems=$((problems + 1))
fi
check_repaired_prefix "$archive_log"
[ -f "$archive_log" ] && check "log: the success prompt answered in place of the person" \
  grep -q "복구 성공 메시지에 사용자 대신 '아니요'로 응답하였습니다" "$archive_log"

if [ "$problems" -ne 0 ]; then
  [ -f "$archive_log" ] && { echo "--- log" >&2; sed 's/\r$//' "$archive_log" >&2; }
  fail "$problems expectation(s) not met"
fi
echo "PASS"
