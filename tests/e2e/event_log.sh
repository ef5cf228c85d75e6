#!/usr/bin/env bash
# The run's entry in the Application event log, from the real OrlynRepair.exe in a prefix of its own. Wine's
# event log keeps nothing, but its "eventlog" debug channel prints every string that ReportEventW gets
# (as a trace for information, a warning for warnings, an error for errors), one line each.
#   1. A quiet repair that succeeds: one information entry with 0, quiet, no failed phase, not resumed,
#      and the log where it was moved; the event source is registered with the message library in the
#      protected folder, which still loads and holds the messages after the program is deleted.
#   2. A quiet run whose initialisation fails (a temporary folder that cannot be written): one error
#      entry with 1603, quiet, the initialisation as the failed phase, and the /log copy as the log (the
#      repair log itself is deleted after an initialisation error).
# Usage: event_log.sh BIN_DIR (with OrlynRepair.exe, exit_code_of.exe, format_message.exe).
set -euo pipefail
source "$(dirname "$0")/lib/prefix.sh" "$1"
install_program
mkdir -p "$c/fleet"
registration='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\OrlynRepair'
library='C:\ProgramData\OrlynRepair\OrlynRepairEvents.dll'

# run_traced TRACE_FILE COMMAND...: runs the command with the eventlog channel on; prints the exit code.
run_traced() {
  local trace=$1
  shift
  WINEDEBUG=-all,+eventlog "$ORLYN_WINE" "$bin/exit_code_of.exe" "$@" 2>"$trace" | tr -d '\r'
}
# entry_strings TRACE_FILE LEVEL: the strings ReportEventW printed at that level, one a line, decoded
# from Wine's escapes (\xxxx for a character beyond ASCII, \\ for a backslash) to UTF-8.
entry_strings() {
  grep -a ":$2:eventlog:ReportEventW" "$1" | sed -n 's/.*ReportEventW L"\(.*\)"[^"]*$/\1/p' |
    perl -CS -pe 's/\\(\\|[0-9a-f]{4})/length($1) == 1 ? "\\" : chr(hex($1))/ge'
}
expect_strings() {
  local got
  got=$(entry_strings "$1" "$2")
  [ "$got" = "$3" ] || { sed -n '1,40p' "$1" >&2; fail "the entry's strings ($2): '$got', not '$3'"; }
}

echo "== a quiet repair that succeeds"
code=$(run_traced "$tmp/success.txt" 'C:\OrlynRepair.exe' /quiet)
[ "$code" = 0 ] || fail "exit code '$code', not 0"
expect_strings "$tmp/success.txt" trace "$(printf '%s\n' 0 quiet 없음 아니요 'C:\ProgramData\Orlyn\Common\OrlynRepair.log')"
[ -z "$(entry_strings "$tmp/success.txt" err)$(entry_strings "$tmp/success.txt" warn)" ] ||
  fail "a successful run reported more than its one information entry"
query() {
  { "$ORLYN_WINE" reg query "$registration" /v "$1" 2>/dev/null || true; } | tr -d '\r' |
    sed -n "s/^ *$1 *REG_[A-Z_]* *//p"
}
[ "$(query EventMessageFile)" = "$library" ] || fail "EventMessageFile: '$(query EventMessageFile)'"
[ "$(query TypesSupported)" = 0x7 ] || fail "TypesSupported: '$(query TypesSupported)'"
cmp -s "$bin/OrlynRepairEvents.dll" "$c/ProgramData/OrlynRepair/OrlynRepairEvents.dll" ||
  fail "the message library in the protected folder is not the built one"
rm -f "$c/OrlynRepair.exe"
[ "$("$ORLYN_WINE" "$bin/format_message.exe" "$library" 1000 2>/dev/null | tr -d '\r')" = ok ] ||
  fail "the message library does not give message 1000 once the program is deleted"

echo "== a quiet run whose initialisation fails"
install_program
code=$(run_traced "$tmp/failure.txt" cmd /c \
  'set TMP=Q:\no\such&& set TEMP=Q:\no\such&& C:\OrlynRepair.exe /quiet /log C:\fleet\pc1.log')
[ "$code" = 1603 ] || fail "exit code '$code', not 1603"
expect_strings "$tmp/failure.txt" err "$(printf '%s\n' 1603 quiet 초기화 아니요 'C:\fleet\pc1.log')"
[ -f "$c/fleet/pc1.log" ] || fail "no /log copy"
echo "PASS"
