#!/usr/bin/env bash
# Sourced: a fresh Wine prefix of this test's own in a temporary folder (a restart or a repair changes
# the whole prefix, so never the shared one), on the test platform's Wine (scripts/wine-platform.sh),
# with Korean glyphs for the message boxes. Ends the prefix's processes and removes it on exit. Needs $DISPLAY. Sets tmp, WINEPREFIX, ORLYN_WINE, server.
: "${DISPLAY:?needs an X display (scripts/wine-env.sh starts Xvfb)}"
e2e_scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../../scripts" && pwd)
bash "$e2e_scripts/wine-platform.sh" ensure
ORLYN_WINE=$e2e_scripts/wine-run.sh
server=$e2e_scripts/wineserver.sh
tmp=$(mktemp -d /tmp/orlyn-e2e.XXXXXX)
export WINEPREFIX=$tmp/prefix WINEDEBUG=-all WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
e2e_cleanup() {
  "$server" -k >/dev/null 2>&1 || true
  rm -rf "$tmp"
}
trap e2e_cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

source "$e2e_scripts/wine-prefix-setup.sh"

# Waits (bounded) until a file exists.
wait_file() {
  local i
  for i in $(seq 1 600); do [ -e "$1" ] && return 0; sleep 0.1; done
  return 1
}

# Whether a Windows program is a 32-bit (i386) one: the machine field of its PE header.
is_32bit_program() {
  local pe machine
  pe=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ') || return 1
  machine=$(od -An -tx2 -j$((pe + 4)) -N2 "$1" | tr -d ' ') || return 1
  [ "$machine" = 014c ]
}
