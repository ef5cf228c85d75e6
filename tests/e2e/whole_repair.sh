#!/usr/bin/env bash
# A whole repair by the real OrlynRepair.exe on a prefix of its own seeded with a broken old module
# (lib/seed_old_module.sh): registry rows and folders of the old module, read-only files, a program
# holding one of its files, a program named like one of the module's, and a Chrome Local State that
# excludes the `tsl` scheme. The prompts are answered as a user would: start, OK on the notice before
# the holding program is ended and on the sign-on reachability warning (the server never resolves
# here), No on the home page. Afterwards the log must have been moved into Orlyn\Common with its
# sections in order, and the registry and disk must hold the new module and none of the old
# (lib/repaired_checks.sh, which reads each registry entry back from the view it belongs to: the program
# is the shipped 32-bit one on 64-bit Windows).
# Usage: whole_repair.sh BIN_DIR (with OrlynRepair.exe, answer_message_box.exe, hold_file.exe).
set -euo pipefail
source "$(dirname "$0")/lib/prefix.sh" "$1" seeded running
install_program

"$ORLYN_WINE" 'C:\OrlynRepair.exe' >/dev/null 2>"$program_err" &
run=$!
answer_prompts "$run" "$transcript"
[ -s "$transcript" ] || fail "'wine C:\OrlynRepair.exe' showed no box at all: $(ended_how "$run")"
wait "$run" || fail "the program ended with $?; Wine said: $(orlyn_tail "$program_err")"

problems=0
source "$here/lib/repaired_checks.sh"

# The prompts a user saw, in order.
check "prompts: start, holder notice, reachability warning, success" in_order "$transcript" \
  "지금 복구를 시작할까요" "update.lock" "로그인이 실패할 경우" "복구에 성공했습니다"
check "no failure or restart prompt" absent grep -q -e "다시 시도하시겠습니까" -e "재설치 과정에" "$transcript"
check "no RunOnce entry" no_resume_entry

check_repaired_prefix "$archive_log"

if [ "$problems" -ne 0 ]; then
  echo "--- prompts" >&2; cat "$transcript" >&2
  [ -f "$archive_log" ] && { echo "--- log" >&2; sed 's/\r$//' "$archive_log" >&2; }
  fail "$problems expectation(s) not met"
fi
echo "PASS"
