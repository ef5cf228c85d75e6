# Sourced: makes a throwaway Wine prefix and an Xvfb display for this run, and removes both on exit.
# Sets WINEPREFIX, DISPLAY, WINEDEBUG and ORLYN_WINE (the loader).
ORLYN_WINE=/usr/lib/wine/wine64
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
orlyn_tmp=$(mktemp -d /tmp/orlyn-wine.XXXXXX)
export WINEPREFIX=$orlyn_tmp/prefix
orlyn_display=$(( 90 + RANDOM % 400 ))
while [ -e "/tmp/.X${orlyn_display}-lock" ]; do orlyn_display=$((orlyn_display + 1)); done
Xvfb ":$orlyn_display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
orlyn_xvfb=$!
export DISPLAY=":$orlyn_display"
orlyn_wine_cleanup() {
  "${ORLYN_WINE%/*}/wineserver" -k >/dev/null 2>&1 || true
  kill "$orlyn_xvfb" >/dev/null 2>&1 || true
  rm -rf "$orlyn_tmp"
}
trap orlyn_wine_cleanup EXIT
"$ORLYN_WINE" wineboot -i >/dev/null 2>&1
# Korean glyphs in message boxes and dialogs.
for face in Tahoma "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif"; do
  "$ORLYN_WINE" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
    /v "$face" /t REG_MULTI_SZ /d 'NanumGothic.ttf,NanumGothic' /f >/dev/null 2>&1
done
# Without a window manager, hiding a managed window waits about 2 s; unmanaged windows close at once.
"$ORLYN_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
cp /usr/share/fonts/truetype/nanum/NanumGothic*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
"${ORLYN_WINE%/*}/wineserver" -w
