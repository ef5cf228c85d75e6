#!/usr/bin/env bash
# The real OrlynRepair.exe in a Wine prefix of its own (a restart ends every process of a prefix, so
# never the shared one), installed in a folder with blanks and driven from outside as a person would:
# its message boxes are answered by answer_message_box.exe.
#   1. A run started by hand: confirm, let it finish, decline the home page; the log stays on the
#      desktop because the shared data folder "Orlyn\Common" does not exist yet.
#   2. Resume after a restart: the RunOnce entry that RebootAndResume writes ("\"<path>\" --start"),
#      then a forced restart of the prefix (ExitWindowsEx(EWX_REBOOT | EWX_FORCE), as the program
#      requests it). Wine runs the entry; the resumed program asks for confirmation, runs, succeeds and
#      moves its log into "Orlyn\Common".
# Usage: restart_resume.sh BIN_DIR (with OrlynRepair.exe, answer_message_box.exe, request_restart.exe).
set -euo pipefail
bin=$(cd "$1" && pwd)
: "${DISPLAY:?needs an X display (scripts/wine-env.sh starts Xvfb)}"
wine=/usr/lib/wine/wine64
server=/usr/lib/wine/wineserver
tmp=$(mktemp -d /tmp/orlyn-e2e.XXXXXX)
export WINEPREFIX=$tmp/prefix WINEDEBUG=-all WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
cleanup() {
  "$server" -k >/dev/null 2>&1 || true
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$wine" wineboot -i >/dev/null 2>&1
for face in Tahoma "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif"; do
  "$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
    /v "$face" /t REG_MULTI_SZ /d 'NanumGothic.ttf,NanumGothic' /f >/dev/null 2>&1
done
cp /usr/share/fonts/truetype/nanum/NanumGothic*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true

folder="$WINEPREFIX/drive_c/Program Files/Orlyn Repair Test Folder"
mkdir -p "$folder"
cp "$bin/OrlynRepair.exe" "$folder/"
program='C:\Program Files\Orlyn Repair Test Folder\OrlynRepair.exe'
desktop_log="$WINEPREFIX/drive_c/users/Public/Desktop/OrlynRepair.log"
archive_dir="$WINEPREFIX/drive_c/ProgramData/Orlyn/Common"

# Answers the program's next message box with a button; prints its text.
answer() { "$wine" "$bin/answer_message_box.exe" OrlynRepair.exe 60000 "$1"; }
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
# Waits (bounded) until a file exists.
wait_file() {
  local i
  for i in $(seq 1 600); do [ -e "$1" ] && return 0; sleep 0.1; done
  return 1
}

echo "== run started by hand"
"$wine" "$program" >/dev/null 2>&1 &
run=$!
answer ok | grep -q "지금 복구를 시작할까요" || fail "no start confirmation"
answer no | grep -q "복구에 성공했습니다" || fail "no success prompt"
wait "$run" || fail "the program ended with $?"
[ -e "$desktop_log" ] || fail "no log on the all-users desktop"
head -c 3 "$desktop_log" | od -An -tx1 | grep -q "ef bb bf" || fail "the log has no UTF-8 byte-order mark"
[ ! -e "$archive_dir/OrlynRepair.log" ] || fail "the log was moved although Orlyn\\Common did not exist"

echo "== resume after a restart"
rm -f "$desktop_log"
mkdir -p "$archive_dir"
"$wine" reg add 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\RunOnce' /v OrlynComCleaner /t REG_SZ \
  /d "\"$program\" --start" /f >/dev/null 2>&1
"$wine" "$bin/request_restart.exe" >/dev/null 2>&1 || true
x_answer Return || fail "the program did not start again after the restart (no start confirmation)"
x_dialog || fail "the resumed program shows no repair dialog"
x_answer n || fail "the resumed run shows no final prompt"
wait_file "$archive_dir/OrlynRepair.log" || fail "the resumed run's log was not moved into Orlyn\\Common"
"$server" -w
if "$wine" reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\RunOnce' /v OrlynComCleaner >/dev/null 2>&1
then
  fail "the RunOnce entry is still there after a successful resumed run"
fi
echo "PASS"
