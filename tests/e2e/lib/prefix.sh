#!/usr/bin/env bash
# Sourced first by every end-to-end run, with the folder of the program and the fixtures:
#   source "$(dirname "$0")/lib/prefix.sh" BIN_DIR [seeded [running]]
# BIN_DIR holds either build of OrlynRepair.exe: the shipped 32-bit one (i686, run under WoW64) or the
# 64-bit one (x86_64). Where this machine cannot run 32-bit code (scripts/wine-lib.sh, orlyn_know_32bit;
# ORLYN_NO_32BIT=1 forces that answer), a run given the 32-bit program says why and ends with 77, which
# ctest reports as skipped. Then it makes a fresh Wine prefix of this run's own in a temporary folder (a
# restart or a repair changes the whole prefix, so never the shared one; scripts/wine-lib.sh), on an
# Xvfb display of its own when there is none. With "seeded" the prefix is seeded with a broken old
# module (lib/seed_old_module.sh), and with "running" as well the old module's two programs are started
# in it. The prefix's processes end and the folder goes on exit. Also sources lib/prompts.sh and
# lib/window_watch.sh.
# What differs between the two builds is chosen in one place, lib/program.sh; a run that uses these
# needs no code of its own for either build:
#   program_bits     32 or 64
#   program_view     the registry view (reg.exe's /reg:32 or /reg:64) of the program's own HKLM\SOFTWARE
#                    keys and of the seeded old module's; other_view is the other one
#   program_wow64    yes for the 32-bit program (it writes its 64-bit entries as well), no for the 64-bit one
#   program_files    'C:\Program Files (x86)' or 'C:\Program Files': the programs' folder of its bitness
#   program_reg VERB KEY ARGS...   reg.exe in the program's view
# Also sets bin, here (tests/e2e), tmp (the run's folder), WINEPREFIX, c (its drive C:), desktop_log and
# archive_log (where the program leaves its log), transcript (an empty file for lib/prompts.sh), and
# ORLYN_WINE and ORLYN_WINESERVER, program_err (a file for the program's error output); and fail MESSAGE,
# wait_file FILE, install_program [FOLDER], ended_how PID (how a started program ended, with the last
# lines of $program_err: for the message of a run that did not go as it should).
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

fail() { echo "FAIL: $*" >&2; exit 1; }

source "$here/lib/program.sh" "${1:?usage: $0 BIN_DIR}"
source "$here/../../scripts/wine-lib.sh"
skip_when_it_cannot_run() {
  [ "$program_bits" = 32 ] && [ "${ORLYN_RUNS_32BIT:-}" = no ] || return 0
  echo "SKIP: the 32-bit program cannot run here: $ORLYN_NO_32BIT_REASON"
  exit 77
}
skip_when_it_cannot_run  # known for the whole run already (scripts/test.sh)
[ -n "${DISPLAY:-}" ] || orlyn_start_display
orlyn_make_prefix orlyn-e2e
[ "$program_bits" = 64 ] || orlyn_know_32bit  # else found out in this prefix
skip_when_it_cannot_run
tmp=$orlyn_tmp
c="$WINEPREFIX/drive_c"
desktop_log="$c/users/Public/Desktop/OrlynRepair.log"
archive_log="$c/ProgramData/Orlyn/Common/OrlynRepair.log"
transcript=$tmp/prompts.txt
: >"$transcript"
program_err=$tmp/program.err

ended_how() {
  local status
  if kill -0 "$1" 2>/dev/null; then
    echo "it still runs"
  else
    wait "$1" 2>/dev/null && status=0 || status=$?
    echo "it ended with $status; Wine said: $(orlyn_tail "$program_err")"
  fi
}

# Waits (bounded) until a file exists.
wait_file() {
  local i
  for i in $(seq 1 600); do [ -e "$1" ] && return 0; sleep 0.1; done
  return 1
}

# install_program [FOLDER]: copies the program into the prefix, to C:\OrlynRepair.exe or into FOLDER
# (a Windows path under C:\, made when missing); sets program to its Windows path.
install_program() {
  local folder=${1:-C:\\}
  folder=${folder%\\}
  local unix=${folder#C:}
  unix="$c${unix//\\//}"
  mkdir -p "$unix"
  cp "$bin/OrlynRepair.exe" "$unix/OrlynRepair.exe"
  program="$folder\\OrlynRepair.exe"
}

source "$here/lib/prompts.sh"
source "$here/lib/window_watch.sh"
if [ "${2:-}" = seeded ]; then
  source "$here/lib/seed_old_module.sh"
  if [ "${3:-}" = running ]; then
    start_old_module_processes || fail "$seed_failure"
  fi
fi
