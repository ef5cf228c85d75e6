# Sourced: the one place that sets Wine up for a run, used by scripts/wine-env.sh (the test harness and
# the demo), the end-to-end runs (tests/e2e/lib/prefix.sh) and the benchmarks.
# On sourcing: makes sure the test platform's Wine is there (scripts/wine-platform.sh: Wine 10, which runs
# the 32-bit program under WoW64 and the 64-bit builds alike; its root is made first if it is missing) and
# exports ORLYN_WINE (runs the loader; also ctest's emulator), ORLYN_WINESERVER, WINEDEBUG and
# WINEDLLOVERRIDES. Then:
#   orlyn_start_display        starts an Xvfb display, waits until it answers, exports DISPLAY
#   orlyn_make_prefix NAME     makes a fresh prefix in a new folder /tmp/NAME.XXXXXX (its path in
#                              orlyn_tmp), exports WINEPREFIX and sets the prefix up as the tests need it
#   orlyn_know_32bit           finds out once per run whether 32-bit Windows programs run on this machine
#                              and exports the answer for everything the run starts: ORLYN_RUNS_32BIT
#                              (yes or no) and, when no, ORLYN_NO_32BIT_REASON (one line, also printed).
#                              It probes in this shell's prefix, or in a throwaway one when there is none.
#                              ORLYN_NO_32BIT=1 forces "no" without probing, to try that path anywhere.
# Every step that fails says what it ran and what it saw (exit code, the last lines of Wine's output).
# What a shell started is ended and removed when that shell exits (its prefix's processes, the prefix's
# folder, the display); a subshell's own display or prefix goes with the subshell.

orlyn_scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

orlyn_die() { echo "wine-lib: $*" >&2; exit 1; }

# orlyn_tail FILE: the last lines of a program's error output, on one line, for a message.
orlyn_tail() {
  local text
  # Wine's complaint about XDG_RUNTIME_DIR comes with every start and says nothing.
  text=$(grep -v "XDG_RUNTIME_DIR" "$1" 2>/dev/null | tail -n "${2:-3}" | tr -d '\r' | tr '\n' '|' |
         sed 's/|$//; s/|/ | /g')
  echo "${text:-nothing}"
}

orlyn_status=0
bash "$orlyn_scripts/wine-platform.sh" ensure || orlyn_status=$?
[ "$orlyn_status" -eq 0 ] ||
  orlyn_die "the test platform's Wine is not there: 'scripts/wine-platform.sh ensure' ended with $orlyn_status (its message is above)"
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
  local number=$(( 90 + RANDOM % 400 )) attempt i status seen
  # A display number another run took between the look and the start makes Xvfb end at once: the next
  # free number is tried.
  for attempt in 1 2 3 4 5; do
    while [ -e "/tmp/.X${number}-lock" ] || [ -e "/tmp/.X11-unix/X$number" ]; do number=$((number + 1)); done
    Xvfb ":$number" -screen 0 1024x768x24 -nolisten tcp >"/tmp/orlyn-xvfb.$BASHPID.log" 2>&1 &
    orlyn_xvfb=$!
    for i in $(seq 1 100); do  # up to 10 s
      if orlyn_display_answers "$number"; then
        rm -f "/tmp/orlyn-xvfb.$BASHPID.log"
        export DISPLAY=":$number"
        return 0
      fi
      kill -0 "$orlyn_xvfb" 2>/dev/null || break
      sleep 0.1
    done
    if kill -0 "$orlyn_xvfb" 2>/dev/null; then
      kill "$orlyn_xvfb" >/dev/null 2>&1 || true
      orlyn_xvfb=""
      orlyn_die "'Xvfb :$number' did not answer within 10 s; it said: $(orlyn_tail "/tmp/orlyn-xvfb.$BASHPID.log")"
    fi
    wait "$orlyn_xvfb" 2>/dev/null && status=0 || status=$?
    seen="exit code $status; it said: $(orlyn_tail "/tmp/orlyn-xvfb.$BASHPID.log")"
    orlyn_xvfb=""
    number=$((number + 1))
  done
  rm -f "/tmp/orlyn-xvfb.$BASHPID.log"
  orlyn_die "Xvfb did not start (tried 5 display numbers; the last, 'Xvfb :$((number - 1))', ended with $seen)"
}

orlyn_make_prefix() {
  [ -z "$orlyn_tmp" ] || orlyn_die "this shell has made a prefix already ($orlyn_tmp)"
  orlyn_tmp=$(mktemp -d "/tmp/$1.XXXXXX")
  export WINEPREFIX=$orlyn_tmp/prefix
  local status=0
  "$ORLYN_WINE" wineboot -i >/dev/null 2>"$orlyn_tmp/wineboot.err" || status=$?
  [ -d "$WINEPREFIX/drive_c/windows/system32" ] ||
    orlyn_die "'wineboot -i' did not make the prefix $WINEPREFIX: exit code $status; Wine said: $(orlyn_tail "$orlyn_tmp/wineboot.err")"
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

# Whether 32-bit Windows programs run here: wineboot filled syswow64 with the 32-bit system (where they
# cannot run it stays empty), and the 32-bit cmd.exe from there starts, reports itself as a 32-bit
# process on 64-bit Windows and ends with the exit code it was asked for. Where the kernel gives user
# programs no 32-bit code segment, Wine's 32-bit processes die at once. About a second. A failed start
# is tried once more, so that a busy machine is not taken for one that cannot: "no" needs two failures.
# Prints what it saw and returns 3 when they cannot run.
orlyn_probe_32bit() {
  local wow=$WINEPREFIX/drive_c/windows/syswow64 files out status attempt
  local err=$orlyn_tmp/probe32.err output=$orlyn_tmp/probe32.out
  files=$(find "$wow" -maxdepth 1 -type f 2>/dev/null | wc -l)
  if [ ! -e "$wow/cmd.exe" ] || [ ! -e "$wow/ntdll.dll" ]; then
    echo "after 'wineboot -i' C:\\windows\\syswow64 holds $files files and no 32-bit ntdll.dll or cmd.exe (Wine said: $(orlyn_tail "$orlyn_tmp/wineboot.err" 2))"
    return 3
  fi
  for attempt in 1 2; do
    status=0
    "$ORLYN_WINE" 'C:\windows\syswow64\cmd.exe' /c 'echo %PROCESSOR_ARCHITECTURE% %PROCESSOR_ARCHITEW6432%& exit 42' \
      >"$output" 2>"$err" || status=$?
    out=$(tr -d '\r' <"$output" | tr '\n' ' ' | sed 's/ *$//')
    [ "$status" -eq 42 ] && [ "$out" = "x86 AMD64" ] && return 0
  done
  echo "the 32-bit C:\\windows\\syswow64\\cmd.exe, asked to print its architecture and end with 42, ended with $status and printed '$out' (Wine said: $(orlyn_tail "$err" 2))"
  return 3
}

orlyn_know_32bit() {
  [ -n "${ORLYN_RUNS_32BIT:-}" ] && return 0
  local seen status=0
  if [ "${ORLYN_NO_32BIT:-}" = 1 ]; then
    ORLYN_RUNS_32BIT=no
    ORLYN_NO_32BIT_REASON="ORLYN_NO_32BIT=1 forces the path of a machine that cannot run 32-bit code (this machine was not probed)"
  else
    if [ -n "$orlyn_tmp" ]; then
      seen=$(orlyn_probe_32bit) || status=$?
    else
      # No prefix of ours yet: probe in a throwaway one, which goes with the subshell.
      seen=$(source "$orlyn_scripts/wine-lib.sh" && orlyn_make_prefix orlyn-probe >&2 && orlyn_probe_32bit) ||
        status=$?
    fi
    case $status in
      0) ORLYN_RUNS_32BIT=yes ;;
      3) ORLYN_RUNS_32BIT=no
         ORLYN_NO_32BIT_REASON="this machine cannot run 32-bit Windows programs: $seen" ;;
      *) orlyn_die "could not find out whether 32-bit programs run here (the probe's set-up ended with $status; its message is above)" ;;
    esac
  fi
  export ORLYN_RUNS_32BIT ORLYN_NO_32BIT_REASON
}
