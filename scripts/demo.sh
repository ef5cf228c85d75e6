#!/usr/bin/env bash
# Builds the shipped 32-bit program (i686) and runs a whole repair under Wine 10 on a virtual display,
# as on 64-bit Windows (WoW64; scripts/wine-platform.sh), in a throwaway prefix seeded with a broken old
# module (tests/e2e/lib/seed_old_module.sh): old registry entries, folders, read-only files, a program
# holding one of the module's files and one named like the module's. It confirms the start,
# acknowledges the notices and warnings, declines the home page, saves screenshots of the dialog at the
# start, mid-run and at the end into out/, and prints the repair log and where the program moved it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh" i686 "$root/build/i686"
bin=$root/build/i686/bin
out=$root/out
mkdir -p "$out"
rm -f "$out"/orlyn-repair-*.png "$out/OrlynRepair.log"
source "$root/scripts/wine-env.sh"
source "$root/tests/e2e/lib/prompts.sh"
echo "Seeding the prefix with a broken old module"
source "$root/tests/e2e/lib/seed_old_module.sh"
start_old_module_processes

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
echo "Starting OrlynRepair.exe on display $DISPLAY"
"$ORLYN_WINE" 'C:\OrlynRepair.exe' >/dev/null 2>&1 &
program=$!
text=$(answer 60000 show)
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
