#!/usr/bin/env bash
# Quiet runs (/quiet) of the real OrlynRepair.exe whose removal needs a restart, in a prefix of its
# own (a restart ends every process of a prefix), installed in a folder with blanks. A `tsl` scheme key
# that the removal cannot delete (its subkey "Locked" grants only read and WRITE_DAC) makes the
# removal fail, as a locked file would. No window may be shown at any time (lib/window_watch.sh).
#   1. /quiet (the restart left to others, /norestart being the default): exit code 3010, and the
#      RunOnce entry starts the program's copy in C:\ProgramData\OrlynRepair again with its switches,
#      the path in quotes.
#   2. /quiet /forcerestart /log: the program requests the restart itself. The lock is lifted the
#      moment the program writes its RunOnce entry (key_security_on_value.exe), as the restart would
#      free a locked file. Wine ends the prefix's processes and runs the entry; the resumed run finishes
#      quietly: the log is moved into Orlyn\Common, copied to the /log path, and the entry is gone.
# Usage: quiet_restart.sh BIN_DIR (with OrlynRepair.exe, exit_code_of.exe, set_key_security.exe,
# key_security_on_value.exe).
set -euo pipefail
source "$(dirname "$0")/lib/prefix.sh" "$1"
# The programs' folder of its bitness (lib/program.sh), a path with blanks.
install_program "$program_files\\Orlyn Repair Test Folder"
mkdir -p "$c/fleet"
copy_log="$WINEPREFIX/drive_c/fleet/pc 01.log"
runonce='SOFTWARE\Microsoft\Windows\CurrentVersion\RunOnce'
run_for_code() { "$ORLYN_WINE" "$bin/exit_code_of.exe" "$@" 2>/dev/null | tr -d '\r'; }
# resume_command VIEW: the program's RunOnce command in that registry view (program_view: the program's
# own, the one wineboot runs after a restart), empty when there is none.
resume_command() {
  { "$ORLYN_WINE" reg query "HKLM\\$runonce" /v OrlynComCleaner "/reg:$1" 2>/dev/null || true; } | tr -d '\r' |
    sed -n 's/^ *OrlynComCleaner *REG_SZ *//p'
}

"$ORLYN_WINE" reg add 'HKCU\Software\Classes\tsl\Locked\Inner' /f >/dev/null 2>&1
"$ORLYN_WINE" "$bin/set_key_security.exe" HKCU 'Software\Classes\tsl\Locked' 'D:P(A;;KRWD;;;WD)' ||
  fail "could not lock the scheme key"
start_window_watch

echo "== /quiet: the restart is left to others"
code=$(run_for_code "$program" /quiet)
[ "$code" = 3010 ] || fail "exit code '$code', not 3010"
command=$(resume_command "$program_view")
# The entry starts the checked copy in the protected folder, not the program's own path.
[ "$command" = '"C:\ProgramData\OrlynRepair\OrlynRepair.exe" --start /quiet /norestart' ] ||
  fail "RunOnce command ($program_view-bit view): '$command'"
cmp -s "$bin/OrlynRepair.exe" "$c/ProgramData/OrlynRepair/OrlynRepair.exe" ||
  fail "the resume copy is not the program, byte for byte"
[ -z "$(resume_command "$other_view")" ] ||
  fail "a RunOnce entry in the $other_view-bit view: $(resume_command "$other_view")"
[ -f "$desktop_log" ] || fail "the log did not stay on the desktop"
grep -q "재시작 안내를 표시하지 않았습니다. 지금 재시작하지 않으며" "$desktop_log" ||
  fail "the log does not say that the restart was left for later"

echo "== /quiet /forcerestart: restart and resume"
program_reg delete "HKLM\\$runonce" /v OrlynComCleaner /f >/dev/null 2>&1 ||
  fail "could not delete the first run's RunOnce entry"
"$ORLYN_WINE" "$bin/key_security_on_value.exe" "$runonce" OrlynComCleaner 'Software\Classes\tsl\Locked' \
  'D:(A;;KA;;;WD)' 300000 >/dev/null 2>&1 &
# The restart ends the program before it could report an exit code (1641): nothing to read here.
run_for_code "$program" /quiet /forcerestart /log 'C:\fleet\pc 01.log' >/dev/null || true
wait_file "$archive_log" || fail "the resumed run's log was not moved into Orlyn\\Common"
"$ORLYN_WINESERVER" -w
stop_window_watch

shown=$(shown_windows)
[ -z "$shown" ] || fail "windows were shown: $shown"
for view in 32 64; do
  [ -z "$(resume_command $view)" ] ||
    fail "the RunOnce entry is still there ($view-bit view) after a successful resumed run"
done
if "$ORLYN_WINE" reg query 'HKCU\Software\Classes\tsl\Locked' >/dev/null 2>&1; then
  fail "the resumed run left the locked scheme key"
fi
[ ! -e "$desktop_log" ] || fail "a log was left on the desktop"
grep -q "신규 모듈 설치 루틴" "$archive_log" || fail "the resumed run's log has no install section"
grep -q "시작 확인에 사용자 대신 '확인'으로 응답하였습니다" "$archive_log" ||
  fail "the resumed run was not quiet (no answered start in its log)"
cmp -s "$archive_log" "$copy_log" || fail "the /log copy is not the resumed run's final log"
echo "PASS"
