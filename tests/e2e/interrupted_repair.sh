#!/usr/bin/env bash
# A repair of the real OrlynRepair.exe ended abruptly (a crash, taskkill /f, a power cut) and started
# again with /quiet must leave the same PC as a repair that was never ended. Each run below has a
# prefix of its own, seeded with the broken old module and its two programs (lib/seed_old_module.sh):
#   baseline  one /quiet run, never ended; it must leave a repaired PC (lib/repaired_checks.sh)
#   init      /quiet, killed as soon as its log appears, before its removal has begun
#   keys      started by a person, ended with taskkill /f while the notice before the module's program
#             is ended is up: the removal has deleted the old module's registry keys, whose values
#             name two of the folders it was about to delete
#   files     /quiet, killed once the install has written its first file
#   install   started by a person, ended with taskkill /f while the sign-on warning of the install is up
#   restart   /quiet, with a file of a folder named by a deleted key held by a program that cannot be
#             ended and a scheme key that cannot be deleted: the removal fails (3010); then the prefix
#             restarts (the key is freed, its processes end, and wineboot runs the RunOnce entry at the
#             prefix's next start), and the resumed run must succeed; its copy goes at the start after
# Each other interrupted run is followed by one /quiet run, which must end with 0; then the prefix's files (all of drive C: but the Windows folder; the log and the machine key
# file by presence and size) and its whole registry (both views of HKLM, and HKCU) must be those of
# the baseline, Chrome's Local State included.
# Usage: interrupted_repair.sh BIN_DIR (with OrlynRepair.exe, exit_code_of.exe, answer_message_box.exe,
# hold_file.exe, unkillable.exe, set_key_security.exe). ORLYN_POINTS="keys restart" runs only those
# points after the baseline; ORLYN_KEEP_STATES=FOLDER keeps the states and their differences.
set -euo pipefail
bin_arg=$1
source "$(dirname "$0")/lib/prefix.sh" "$bin_arg" seeded running
install_program
states=$tmp/states
mkdir -p "$states"
run_for_code() { "$ORLYN_WINE" "$bin/exit_code_of.exe" "$@" 2>/dev/null | tr -d '\r'; }

# The Unix process of this prefix's OrlynRepair.exe (Wine names it by its Windows path).
program_pid() {
  local p
  for p in /proc/[0-9]*; do
    case $(tr '\0' ' ' <"$p/cmdline" 2>/dev/null) in 'C:\OrlynRepair.exe '*) ;; *) continue ;; esac
    tr '\0' '\n' <"$p/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" || continue
    echo "${p#/proc/}"
    return 0
  done
  return 1
}

# wait_log TEXT: waits (bounded) until the desktop log holds the text.
wait_log() {
  local i
  for i in $(seq 1 3000); do
    grep -qF -- "$1" "$desktop_log" 2>/dev/null && return 0
    sleep 0.01
  done
  return 1
}

# crash_at TEXT: ends the program the moment its log holds TEXT, as a crash or a power cut would.
crash_at() {
  local pid
  wait_log "$1" || return 1
  pid=$(program_pid) || return 1
  kill -KILL "$pid"
}

# The registry as Wine stores it, one line per value under its key's path, sorted: times and the order
# of writing left out, and so is what Wine gives each prefix of its own (machine and device ids, device
# times, the fonts it registers when the prefix starts again after a restart).
registry_lines() {
  awk '
    /^\[/ { key = $0; sub(/\] [0-9]+$/, "]", key); print key; next }
    /^#time=/ || /^;/ || /^WINE REGISTRY/ || /^#arch=/ || /^$/ { next }
    { line = line $0; if (sub(/\\$/, "", line)) next; print key "\t" line; line = "" }
  ' "$1" | grep -v -E -e '"MachineGuid"=|"DriverDateData"=|"VideoID"=|Properties\\\\\{' \
    -e '^\[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion\\\\NetworkCards\]$' \
    -e '^\[Software\\\\(Wine\\\\Fonts\\\\External Fonts|Microsoft\\\\Windows( NT)?\\\\CurrentVersion\\\\Fonts)\]' |
    sort
}

# state FILE: what the prefix holds after a run, once its processes have ended.
state() {
  "$ORLYN_WINESERVER" -k >/dev/null 2>&1 || true
  "$ORLYN_WINESERVER" -w >/dev/null 2>&1 || true
  {
    echo "## files"
    (cd "$c" && find . -path ./windows -prune -o -printf '%y %p\n' | sort | while read -r type path; do
      case $type:$path in
        d:*) echo "$path/" ;;
        f:./ProgramData/Orlyn/Common/OrlynRepair.log) echo "$path (log)" ;;
        f:./ProgramData/Orlyn/Common/qrmk.dat) echo "$path $(stat -c %s "$path") bytes" ;;
        f:*) echo "$path $(md5sum <"$path" | cut -c1-32)" ;;
        *) echo "$type $path" ;;
      esac
    done)
    echo "## registry"
    registry_lines "$WINEPREFIX/system.reg"
    echo "## user registry"
    # The restart's scheme key was made below HKCU\Software\Classes, which a fresh prefix lacks.
    registry_lines "$WINEPREFIX/user.reg" | grep -v -x -F '[Software\\Classes]'
  } >"$1"
}

# compare NAME: the state of a run against the baseline's.
compare() {
  if ! diff -u "$states/baseline" "$states/$1" >"$states/$1.diff"; then
    echo "FAIL: the PC after the '$1' run differs from an uninterrupted run's:" >&2
    grep -E '^[-+][^-+]' "$states/$1.diff" | head -n 40 >&2
    return 1
  fi
}

# rerun: the /quiet run after an interruption; it must succeed and leave no log on the desktop.
rerun() {
  local code
  code=$(run_for_code "$program" /quiet)
  [ "$code" = 0 ] || fail "the run after the interruption ended with '$code', not 0"
  [ ! -e "$desktop_log" ] || fail "the run after the interruption left its log on the desktop"
}

echo "== baseline: one uninterrupted /quiet run"
code=$(run_for_code "$program" /quiet)
[ "$code" = 0 ] || fail "the uninterrupted run ended with '$code', not 0"
problems=0
source "$here/lib/repaired_checks.sh"
check_repaired_prefix "$archive_log"
[ "$problems" -eq 0 ] || fail "the uninterrupted run did not repair the PC"
state "$states/baseline"

# point NAME: runs the body of point_NAME in a prefix of its own, then the /quiet run, and compares.
point() {
  local name=$1
  echo "== $name"
  (
    source "$here/lib/prefix.sh" "$bin_arg" seeded running
    install_program
    "point_$name"
    state "$states/$name"
  ) || { failed="$failed $name"; return 0; }
  compare "$name" || failed="$failed $name"
}

point_init() {
  "$ORLYN_WINE" "$program" /quiet >/dev/null 2>&1 &
  local run=$!
  crash_at "System Info" || fail "the program could not be ended during its initialisation"
  wait "$run" || true
  ! grep -qF "기존 모듈 삭제 루틴" "$desktop_log" || fail "the removal had begun when the program was ended"
  rerun
}

# end_at_box BOXES TEXT: starts the program as a person would, presses OK on its first BOXES boxes (the
# start confirmation first), and ends it with taskkill /f while the next box, which must hold TEXT, is up.
end_at_box() {
  local boxes=$1 text=$2 shown run i
  "$ORLYN_WINE" "$program" >/dev/null 2>&1 &
  run=$!
  for i in $(seq 1 "$boxes"); do answer 60000 ok >/dev/null || fail "box $i did not come"; done
  shown=$(answer 60000 show) || fail "no box holding '$text'"
  case "$shown" in *"$text"*) ;; *) fail "not the box holding '$text': $shown" ;; esac
  "$ORLYN_WINE" taskkill /f /im OrlynRepair.exe >/dev/null 2>&1 || fail "taskkill /f did not end the program"
  wait "$run" || true
}

point_keys() {
  end_at_box 1 update.lock
  grep -qF 'HKLM\SOFTWARE\Orlyn\Shared 레지스트리 키가 삭제되었습니다' "$desktop_log" ||
    fail "the old module's keys were not deleted before the notice"
  [ -d "$c/OrlynOld/Shared" ] && [ -d "$c/OrlynOld/QrDownload" ] ||
    fail "the folders named by the deleted keys were gone before the program was ended"
  rerun
}

point_files() {
  "$ORLYN_WINE" "$program" /quiet >/dev/null 2>&1 &
  local run=$!
  crash_at 'C:\ProgramData\Orlyn\TSL\TSL.exe 파일을 설치하였습니다' ||
    fail "the program could not be ended during its install"
  wait "$run" || true
  ! grep -qF "복구 성공 메시지" "$desktop_log" || fail "the repair had finished when the program was ended"
  rerun
}

point_install() {
  # The start confirmation and the notice before the holder is ended, then the sign-on warning.
  end_at_box 2 "로그인이 실패할 경우"
  rerun
}

point_restart() {
  local code
  mkdir -p "$c/fixtures"
  cp "$bin/unkillable.exe" "$c/fixtures/ShareGuard.exe"
  # It creates the file it holds, so the file's appearance shows that it holds it.
  "$ORLYN_WINE" 'C:\fixtures\ShareGuard.exe' OrlynGuardReady 'C:\OrlynOld\Shared\guard.lock' >/dev/null 2>&1 &
  "$ORLYN_WINE" reg add 'HKCU\Software\Classes\tsl\Locked\Inner' /f >/dev/null 2>&1
  "$ORLYN_WINE" "$bin/set_key_security.exe" HKCU 'Software\Classes\tsl\Locked' 'D:P(A;;KRWD;;;WD)' ||
    fail "could not lock the scheme key"
  wait_file "$c/OrlynOld/Shared/guard.lock" || fail "the holder did not start"
  code=$(run_for_code "$program" /quiet)
  [ "$code" = 3010 ] || fail "the run with the locked folder ended with '$code', not 3010"
  grep -qF 'C:\OrlynOld\Shared 폴더가 삭제되지 않았습니다' "$desktop_log" ||
    fail "the locked folder was not the one left"
  grep -qF 'HKLM\SOFTWARE\Orlyn\Shared 레지스트리 키가 삭제되었습니다' "$desktop_log" ||
    fail "the key that names the locked folder was not deleted"
  ! no_resume_entry >/dev/null 2>&1 || fail "no RunOnce entry"
  # The restart: the key stands for a lock that a restart lifts; every program ends, the holder too;
  # then the next program of the prefix waits while wineboot runs the RunOnce entry, as Windows does
  # at the next start.
  "$ORLYN_WINE" "$bin/set_key_security.exe" HKCU 'Software\Classes\tsl\Locked' 'D:(A;;KA;;;WD)' ||
    fail "could not free the scheme key"
  "$ORLYN_WINESERVER" -k >/dev/null 2>&1 || true
  "$ORLYN_WINESERVER" -w >/dev/null 2>&1 || true
  "$ORLYN_WINE" cmd /c exit 0 >/dev/null 2>&1 || true
  wait_file "$archive_log" || fail "the resumed run did not finish"
  grep -qF "복구 성공 메시지" "$archive_log" || fail "the resumed run did not succeed"
  no_resume_entry >/dev/null 2>&1 || fail "the RunOnce entry is still there after the resumed run"
  # The resumed run started from its copy, which cannot delete itself while it runs: its deletion waits
  # for the next start of Windows, which comes here before the PC is compared.
  [ -f "$c/ProgramData/OrlynRepair/OrlynRepair.exe" ] || fail "the resumed run was not started from its copy"
  "$ORLYN_WINESERVER" -k >/dev/null 2>&1 || true
  "$ORLYN_WINESERVER" -w >/dev/null 2>&1 || true
  "$ORLYN_WINE" cmd /c exit 0 >/dev/null 2>&1 || true
  [ ! -e "$c/ProgramData/OrlynRepair/OrlynRepair.exe" ] || fail "the resume copy is still there after the next start"
  rm -rf "$c/fixtures"
}

failed=""
for name in ${ORLYN_POINTS:-init keys files install restart}; do point "$name"; done
if [ -n "${ORLYN_KEEP_STATES:-}" ]; then mkdir -p "$ORLYN_KEEP_STATES" && cp "$states"/* "$ORLYN_KEEP_STATES"/; fi
[ -z "$failed" ] || fail "interrupted runs that did not end as an uninterrupted one:$failed"
echo "PASS"
