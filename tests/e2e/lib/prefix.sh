#!/usr/bin/env bash
# Sourced: a fresh Wine prefix of this test's own in a temporary folder (a restart or a repair changes
# the whole prefix, so never the shared one), with Korean glyphs for the message boxes. Ends the
# prefix's processes and removes it on exit. Needs $DISPLAY. Sets tmp, WINEPREFIX, ORLYN_WINE, server.
: "${DISPLAY:?needs an X display (scripts/wine-env.sh starts Xvfb)}"
ORLYN_WINE=/usr/lib/wine/wine64
server=/usr/lib/wine/wineserver
tmp=$(mktemp -d /tmp/orlyn-e2e.XXXXXX)
export WINEPREFIX=$tmp/prefix WINEDEBUG=-all WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
e2e_cleanup() {
  "$server" -k >/dev/null 2>&1 || true
  rm -rf "$tmp"
}
trap e2e_cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$ORLYN_WINE" wineboot -i >/dev/null 2>&1
for face in Tahoma "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif"; do
  "$ORLYN_WINE" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
    /v "$face" /t REG_MULTI_SZ /d 'NanumGothic.ttf,NanumGothic' /f >/dev/null 2>&1
done
mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
cp /usr/share/fonts/truetype/nanum/NanumGothic*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true

# Waits (bounded) until a file exists.
wait_file() {
  local i
  for i in $(seq 1 600); do [ -e "$1" ] && return 0; sleep 0.1; done
  return 1
}
