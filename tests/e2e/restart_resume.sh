#!/usr/bin/env bash
# The real OrlynRepair.exe in a Wine prefix of its own (a restart ends every process of a prefix, so
# never the shared one), installed in a folder with blanks and driven from outside as a person would:
# its message boxes are answered by answer_message_box.exe, chosen by their text.
#   1. A run started by hand on a clean prefix: confirm, acknowledge the notices and warnings (the
#      sign-on server never resolves here), decline the home page; the install makes "Orlyn\Common",
#      so the log is moved there.
#   2. Resume after a restart: a `tsl` scheme key that the removal cannot delete (its subkey "Locked"
#      grants only read and WRITE_DAC) makes the removal fail; the program offers the restart, and on
#      Yes copies itself into the protected folder C:\ProgramData\OrlynRepair, writes its RunOnce entry
#      for the copy and requests the restart itself. Before Yes the test lifts the lock, as a restart
#      would free a locked file; the moment the entry is written, move_on_value.exe takes the program
#      away from the folder it was started from and removes that folder, as a deployment tool deletes its
#      staging folder. Wine ends the prefix's processes and runs the entry; the resumed program (the
#      copy) asks for confirmation, runs, succeeds, moves its log into "Orlyn\Common", leaves no RunOnce
#      entry behind and has its copy deleted at the next restart.
# Usage: restart_resume.sh BIN_DIR (with OrlynRepair.exe, answer_message_box.exe, set_key_security.exe,
# move_on_value.exe).
set -euo pipefail
source "$(dirname "$0")/lib/prefix.sh" "$1"
# The programs' folder of its bitness (lib/program.sh), a path with blanks.
install_program "$program_files\\Orlyn Repair Test Folder"
runonce='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\RunOnce'
started_from="$c/Program Files (x86)/Orlyn Repair Test Folder"
resume_copy="$c/ProgramData/OrlynRepair/OrlynRepair.exe"
session_manager='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager'

# After the restart, wineboot runs the RunOnce entry and waits for it, and Wine holds back every
# other process of the prefix until wineboot is done: the resumed program's boxes are answered from
# the X side. A box is the program's visible window, named by its title, that is not the 500x233 dialog.
title="오를린 에러복구 프로그램"
x_box() {
  local i w
  for i in $(seq 1 600); do
    for w in $(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null); do
      xdotool getwindowgeometry "$w" 2>/dev/null | grep -q "Geometry: 500x233" || { echo "$w"; return 0; }
    done
    sleep 0.1
  done
  return 1
}
x_dialog() {
  local i w
  for i in $(seq 1 600); do
    for w in $(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null); do
      xdotool getwindowgeometry "$w" 2>/dev/null | grep -q "Geometry: 500x233" && return 0
    done
    sleep 0.1
  done
  return 1
}
# Presses a key in the next box and waits until the box has gone.
x_answer() {
  local i w
  w=$(x_box) || return 1
  xdotool windowfocus "$w" 2>/dev/null || true
  xdotool key "$1"
  for i in $(seq 1 300); do
    xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | grep -qx "$w" || return 0
    sleep 0.1
  done
  return 1
}

echo "== run started by hand"
transcript=$tmp/prompts1.txt
"$ORLYN_WINE" "$program" >/dev/null 2>"$program_err" &
run=$!
answer_prompts "$run" "$transcript"
grep -q "지금 복구를 시작할까요" "$transcript" || fail "'wine $program' showed no start confirmation: $(ended_how "$run")"
wait "$run" || fail "the program ended with $?; Wine said: $(orlyn_tail "$program_err")"
grep -q "복구에 성공했습니다" "$transcript" || { cat "$transcript" >&2; fail "no success prompt"; }
[ -e "$archive_log" ] || fail "the log was not moved into Orlyn\\Common"
[ ! -e "$desktop_log" ] || fail "the log was left on the desktop after success"
head -c 3 "$archive_log" | od -An -tx1 | grep -q "ef bb bf" || fail "the log has no UTF-8 byte-order mark"

echo "== resume after a restart"
rm -f "$archive_log"
"$ORLYN_WINE" reg add 'HKCU\Software\Classes\tsl\Locked\Inner' /f >/dev/null 2>&1
"$ORLYN_WINE" "$bin/set_key_security.exe" HKCU 'Software\Classes\tsl\Locked' 'D:P(A;;KRWD;;;WD)' ||
  fail "could not lock the scheme key"
"$ORLYN_WINE" "$program" >/dev/null 2>&1 &
run=$!
answer 60000 ok | grep -q "지금 복구를 시작할까요" || fail "no start confirmation"
# Notices before the restart prompt (none are expected here) are acknowledged.
text=""
for i in $(seq 1 20); do
  text=$(answer 120000 show) || fail "no restart prompt"
  case "$text" in *"재설치 과정에 문제가 발생하였습니다"*) break ;; esac
  answer 10000 ok >/dev/null || true
done
case "$text" in *"재설치 과정에 문제가 발생하였습니다"*) ;; *) fail "no restart prompt: $text" ;; esac
"$ORLYN_WINE" "$bin/set_key_security.exe" HKCU 'Software\Classes\tsl\Locked' 'D:(A;;KA;;;WD)' ||
  fail "could not lift the lock"
mkdir -p "$c/moved away"
"$ORLYN_WINE" "$bin/move_on_value.exe" "${runonce#HKLM\\}" OrlynComCleaner "$program" \
  'C:\moved away\OrlynRepair.exe' 300000 >/dev/null 2>&1 &
# The restart ends this helper too; its exit status says nothing.
answer 10000 yes >/dev/null 2>&1 || true
{ wait "$run"; } 2>/dev/null || true
x_answer Return || fail "the program did not start again after the restart (no start confirmation)"
x_dialog || fail "the resumed program shows no repair dialog"
x_answer Return || fail "the resumed run shows no reachability warning"
x_answer n || fail "the resumed run shows no final prompt"
wait_file "$archive_log" || fail "the resumed run's log was not moved into Orlyn\\Common"
# Started once the resumed run and wineboot have ended, in the same session of the prefix.
pending=$({ "$ORLYN_WINE" reg query "$session_manager" /v PendingFileRenameOperations 2>/dev/null || true; } |
  tr -d '\r')
case "$pending" in *'\??\C:\ProgramData\OrlynRepair\OrlynRepair.exe'*) ;;
  *) fail "the resumed run did not have its copy deleted at the next restart: $pending" ;; esac
cmp -s "$bin/OrlynRepair.exe" "$resume_copy" || fail "the resume copy is not the program, byte for byte"
"$ORLYN_WINESERVER" -w
for view in 32 64; do
  if "$ORLYN_WINE" reg query "$runonce" /v OrlynComCleaner "/reg:$view" >/dev/null 2>&1; then
    fail "the RunOnce entry is still there ($view-bit view) after a successful resumed run"
  fi
done
if "$ORLYN_WINE" reg query 'HKCU\Software\Classes\tsl\Locked' >/dev/null 2>&1; then
  fail "the resumed run left the locked scheme key"
fi
grep -q "신규 모듈 설치 루틴" "$archive_log" || fail "the resumed run's log has no install section"
[ ! -e "$started_from" ] || fail "the program was not taken away before the restart: the test proves nothing"
cmp -s "$bin/OrlynRepair.exe" "$c/moved away/OrlynRepair.exe" || fail "the program that was moved away differs"
# The copy could not delete itself while it ran: it goes at the next restart. Wine starts a prefix whose
# processes have all ended (wineserver -w above) as Windows starts after a restart, performing the
# deletions that wait for it; the reg queries above started it again.
[ ! -e "$resume_copy" ] || fail "the resume copy is still there after the resumed run and a restart"
echo "PASS"
