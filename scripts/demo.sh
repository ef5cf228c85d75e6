#!/usr/bin/env bash
# Builds the shipped 32-bit program (i686) and runs a whole repair under Wine 10 on a virtual display,
# as on 64-bit Windows (WoW64; scripts/wine-platform.sh), in a throwaway prefix seeded with a broken old
# module (tests/e2e/lib/seed_old_module.sh): old registry entries, folders, read-only files, a program
# holding one of the module's files and one named like the module's. It confirms the start,
# acknowledges the notices and warnings, declines the home page, saves screenshots of the dialog at the
# start, mid-run and at the end into out/, and prints the repair log and where the program moved it.
# Where this machine cannot run 32-bit code (scripts/wine-lib.sh, orlyn_know_32bit; ORLYN_NO_32BIT=1
# forces that path) it says so and shows the x86_64 build of the same program instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
out=$root/out
mkdir -p "$out"
rm -f "$out"/orlyn-repair-*.png "$out/OrlynRepair.log"
source "$root/scripts/wine-env.sh"
orlyn_know_32bit
arch=i686
if [ "$ORLYN_RUNS_32BIT" = no ]; then
  echo "Showing the 64-bit (x86_64) build of OrlynRepair.exe, not the shipped 32-bit one: $ORLYN_NO_32BIT_REASON"
  arch=x86_64
fi
bash "$root/scripts/build.sh" "$arch" "$root/build/$arch"
source "$root/tests/e2e/lib/program.sh" "$root/build/$arch/bin"
source "$root/tests/e2e/lib/prompts.sh"
echo "Seeding the prefix with a broken old module"
source "$root/tests/e2e/lib/seed_old_module.sh"
start_old_module_processes || { echo "demo: $seed_failure" >&2; exit 1; }

# shot NAME: the dialog's rectangle with the box that lies over it (the boxes are smaller than the
# dialog and centred on it), or the whole screen before the dialog is known.
dialog_rect=""
shot() {
  if [ -n "$dialog_rect" ]; then
    read -r x y w h <<<"$dialog_rect"
    import -window root -crop "${w}x${h}+${x}+${y}" +repage "$out/orlyn-repair-$1.png"
  else
    import -window root "$out/orlyn-repair-$1.png"
  fi
  echo "Screenshot: out/orlyn-repair-$1.png"
}
on_prompt() {
  echo "Prompt:"; sed 's/^/  /' <<<"$1"
  case "$1" in
    *"로그인이 실패할 경우"*) shot 2-mid-run ;;
    *"복구에 성공했습니다"*) shot 3-end ;;
  esac
}

cp "$bin/OrlynRepair.exe" "$WINEPREFIX/drive_c/OrlynRepair.exe"
echo "Starting OrlynRepair.exe ($program_bits-bit) on display $DISPLAY"
"$ORLYN_WINE" 'C:\OrlynRepair.exe' >/dev/null 2>"$orlyn_tmp/program.err" &
program=$!
if ! text=$(answer 60000 show); then
  if kill -0 "$program" 2>/dev/null; then seen="it still runs"
  else wait "$program" && seen="it ended with 0" || seen="it ended with $?"; fi
  echo "demo: 'wine C:\OrlynRepair.exe' showed no start confirmation within 60 s: $seen; Wine said: $(orlyn_tail "$orlyn_tmp/program.err")" >&2
  exit 1
fi
echo "Prompt:"; sed 's/^/  /' <<<"$text"
answer 10000 ok >/dev/null
dialog_rect=$(answer 60000 dialog)
sleep 0.3  # let the page paint once before the first shot
shot 1-start
transcript=$(mktemp)
answer_prompts "$program" "$transcript"
rm -f "$transcript"
wait "$program" || true

for log in "$WINEPREFIX/drive_c/ProgramData/Orlyn/Common/OrlynRepair.log" \
           "$WINEPREFIX/drive_c/users/Public/Desktop/OrlynRepair.log"; do
  if [ -e "$log" ]; then
    cp "$log" "$out/OrlynRepair.log"
    echo "Repair log:"
    sed 's/\r$//' "$log"
    echo
    where=${log#"$WINEPREFIX/drive_c/"}
    echo "The program left its log at C:\\${where//\//\\} (copied to out/OrlynRepair.log)."
    exit 0
  fi
done
echo "No repair log was left (an initialisation error deletes it)."
