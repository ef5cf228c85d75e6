# Sourced: makes a throwaway Wine prefix and an Xvfb display for this run, and removes both on exit.
# Wine is the test platform's (scripts/wine-platform.sh: Wine 10, which runs the 32-bit program under
# WoW64 and the 64-bit builds alike); the root it runs in is made first if it is missing.
# Sets WINEPREFIX, DISPLAY, WINEDEBUG, ORLYN_WINE (runs the loader) and ORLYN_WINESERVER.
orlyn_scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
bash "$orlyn_scripts/wine-platform.sh" ensure
ORLYN_WINE=$orlyn_scripts/wine-run.sh
ORLYN_WINESERVER=$orlyn_scripts/wineserver.sh
export ORLYN_WINE ORLYN_WINESERVER
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
orlyn_tmp=$(mktemp -d /tmp/orlyn-wine.XXXXXX)
export WINEPREFIX=$orlyn_tmp/prefix
orlyn_display=$(( 90 + RANDOM % 400 ))
while [ -e "/tmp/.X${orlyn_display}-lock" ]; do orlyn_display=$((orlyn_display + 1)); done
Xvfb ":$orlyn_display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
orlyn_xvfb=$!
export DISPLAY=":$orlyn_display"
orlyn_wine_cleanup() {
  "$ORLYN_WINESERVER" -k >/dev/null 2>&1 || true
  kill "$orlyn_xvfb" >/dev/null 2>&1 || true
  rm -rf "$orlyn_tmp"
}
trap orlyn_wine_cleanup EXIT
source "$orlyn_scripts/wine-prefix-setup.sh"
"$ORLYN_WINESERVER" -w
