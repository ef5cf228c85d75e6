# Sourced: the one place that sets Wine up for a run, used by scripts/wine-env.sh (the test harness and
# the demo), the end-to-end runs (tests/e2e/lib/prefix.sh) and the benchmarks.
# On sourcing: makes sure the test platform's Wine is there (scripts/wine-platform.sh: Wine 10, which runs
# the 32-bit program under WoW64 and the 64-bit builds alike; its root is made first if it is missing) and
# exports ORLYN_WINE (runs the loader; also ctest's emulator), ORLYN_WINESERVER, WINEDEBUG and
# WINEDLLOVERRIDES. Then:
#   orlyn_start_display        starts an Xvfb display, waits until it answers, exports DISPLAY
#   orlyn_make_prefix NAME     makes a fresh prefix in a new folder /tmp/NAME.XXXXXX (its path in
#                              orlyn_tmp), exports WINEPREFIX and sets the prefix up as the tests need it
# What a shell started is ended and removed when that shell exits (its prefix's processes, the prefix's
# folder, the display); a subshell's own display or prefix goes with the subshell.

orlyn_scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

orlyn_die() { echo "wine-lib: $*" >&2; exit 1; }

bash "$orlyn_scripts/wine-platform.sh" ensure || orlyn_die "the test platform's Wine is not there"
ORLYN_WINE=$orlyn_scripts/wine-run.sh
ORLYN_WINESERVER=$orlyn_scripts/wineserver.sh
export ORLYN_WINE ORLYN_WINESERVER
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

# What this shell started; a subshell that sources this file again starts with nothing of its own, so
# that its exit leaves its parent's display and prefix alone.
if [ "${orlyn_owner:-}" != "$BASHPID" ]; then
  orlyn_owner=$BASHPID
  orlyn_xvfb=""
  orlyn_tmp=""
fi

orlyn_wine_cleanup() {
  [ "${orlyn_owner:-}" = "$BASHPID" ] || return 0
  if [ -n "$orlyn_tmp" ]; then
    "$ORLYN_WINESERVER" -k >/dev/null 2>&1 || true
    rm -rf "$orlyn_tmp"
  fi
  if [ -n "$orlyn_xvfb" ]; then kill "$orlyn_xvfb" >/dev/null 2>&1 || true; fi
}
trap orlyn_wine_cleanup EXIT

# Whether display number $1 answers: its socket is there and, where xdpyinfo is installed, a client
# can connect.
orlyn_display_answers() {
  [ -S "/tmp/.X11-unix/X$1" ] || return 1
  if command -v xdpyinfo >/dev/null; then xdpyinfo -display ":$1" >/dev/null 2>&1; fi
}

orlyn_start_display() {
  local number=$(( 90 + RANDOM % 400 )) attempt i
  # A display number another run took between the look and the start makes Xvfb end at once: the next
  # free number is tried.
  for attempt in 1 2 3 4 5; do
    while [ -e "/tmp/.X${number}-lock" ] || [ -e "/tmp/.X11-unix/X$number" ]; do number=$((number + 1)); done
    Xvfb ":$number" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    orlyn_xvfb=$!
    for i in $(seq 1 100); do  # up to 10 s
      if orlyn_display_answers "$number"; then
        export DISPLAY=":$number"
        return 0
      fi
      kill -0 "$orlyn_xvfb" 2>/dev/null || break
      sleep 0.1
    done
    if kill -0 "$orlyn_xvfb" 2>/dev/null; then
      kill "$orlyn_xvfb" >/dev/null 2>&1 || true
      orlyn_xvfb=""
      orlyn_die "Xvfb :$number did not answer within 10 s"
    fi
    orlyn_xvfb=""
    number=$((number + 1))
  done
  orlyn_die "Xvfb did not start (tried 5 display numbers; is the xvfb package installed?)"
}

orlyn_make_prefix() {
  [ -z "$orlyn_tmp" ] || orlyn_die "this shell has made a prefix already ($orlyn_tmp)"
  orlyn_tmp=$(mktemp -d "/tmp/$1.XXXXXX")
  export WINEPREFIX=$orlyn_tmp/prefix
  "$ORLYN_WINE" wineboot -i >/dev/null 2>&1
  [ -d "$WINEPREFIX/drive_c/windows/system32" ] || orlyn_die "wineboot did not make the prefix $WINEPREFIX"
  # Korean glyphs in message boxes and dialogs.
  local face
  for face in Tahoma "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif"; do
    "$ORLYN_WINE" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
      /v "$face" /t REG_MULTI_SZ /d 'NanumGothic.ttf,NanumGothic' /f >/dev/null 2>&1
  done
  # Without a window manager, hiding a managed window waits about 2 s; unmanaged windows close at once.
  "$ORLYN_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  "$orlyn_scripts/wine-platform.sh" run /bin/sh -c \
    'cp /usr/share/fonts/truetype/nanum/NanumGothic*.ttf "$0/drive_c/windows/Fonts/"' "$WINEPREFIX" \
    >/dev/null 2>&1 || true
}
