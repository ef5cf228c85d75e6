#!/usr/bin/env bash
# Sourced first by every end-to-end run, with the folder of the program and the fixtures:
#   source "$(dirname "$0")/lib/prefix.sh" BIN_DIR [seeded [running]]
# Checks that BIN_DIR's OrlynRepair.exe is the shipped 32-bit program, then makes a fresh Wine prefix of
# this run's own in a temporary folder (a restart or a repair changes the whole prefix, so never the
# shared one; scripts/wine-lib.sh), on an Xvfb display of its own when there is none. With "seeded" the
# prefix is seeded with a broken old module (lib/seed_old_module.sh), and with "running" as well the old
# module's two programs are started in it. The prefix's processes end and the folder goes on exit. Also
# sources lib/prompts.sh and lib/window_watch.sh.
# Sets bin, here (tests/e2e), tmp (the run's folder), WINEPREFIX, c (its drive C:), desktop_log and
# archive_log (where the program leaves its log), transcript (an empty file for lib/prompts.sh), and
# ORLYN_WINE and ORLYN_WINESERVER.
bin=$(cd "${1:?usage: $0 BIN_DIR}" && pwd)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

fail() { echo "FAIL: $*" >&2; exit 1; }

# Whether a Windows program is a 32-bit (i386) one: the machine field of its PE header.
is_32bit_program() {
  local pe machine
  pe=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ') || return 1
  machine=$(od -An -tx2 -j$((pe + 4)) -N2 "$1" | tr -d ' ') || return 1
  [ "$machine" = 014c ]
}

is_32bit_program "$bin/OrlynRepair.exe" || fail "$bin/OrlynRepair.exe is not the shipped 32-bit program"

source "$here/../../scripts/wine-lib.sh"
[ -n "${DISPLAY:-}" ] || orlyn_start_display
orlyn_make_prefix orlyn-e2e
tmp=$orlyn_tmp
c="$WINEPREFIX/drive_c"
desktop_log="$c/users/Public/Desktop/OrlynRepair.log"
archive_log="$c/ProgramData/Orlyn/Common/OrlynRepair.log"
transcript=$tmp/prompts.txt
: >"$transcript"

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
    start_old_module_processes || fail "the old module's programs did not start"
  fi
fi
