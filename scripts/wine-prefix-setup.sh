# Sourced by scripts/wine-env.sh and tests/e2e/lib/prefix.sh: creates $WINEPREFIX with the platform's
# Wine ($ORLYN_WINE) and sets it up as the tests need it.
"$ORLYN_WINE" wineboot -i >/dev/null 2>&1
# Korean glyphs in message boxes and dialogs.
for face in Tahoma "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif"; do
  "$ORLYN_WINE" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
    /v "$face" /t REG_MULTI_SZ /d 'NanumGothic.ttf,NanumGothic' /f >/dev/null 2>&1
done
# Without a window manager, hiding a managed window waits about 2 s; unmanaged windows close at once.
"$ORLYN_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
"$(dirname "${BASH_SOURCE[0]}")/wine-platform.sh" run /bin/sh -c \
  'cp /usr/share/fonts/truetype/nanum/NanumGothic*.ttf "$0/drive_c/windows/Fonts/"' "$WINEPREFIX" \
  >/dev/null 2>&1 || true
