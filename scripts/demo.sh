#!/usr/bin/env bash
# Builds the program (x86_64) and runs a repair under Wine on a virtual display, in a throwaway prefix:
# confirms the start, takes a screenshot of the dialog while it works (out/orlyn-repair.png), answers
# the remaining prompts (no home page, no retry, no restart) and prints the repair log.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh" x86_64 "$root/build/x86_64"
bin=$root/build/x86_64/bin
out=$root/out
mkdir -p "$out"
source "$root/scripts/wine-env.sh"

answer() { "$ORLYN_WINE" "$bin/answer_message_box.exe" OrlynRepair.exe "$1" "$2"; }

echo "Starting OrlynRepair.exe on display $DISPLAY"
"$ORLYN_WINE" "$bin/OrlynRepair.exe" >/dev/null 2>&1 &
program=$!
echo "Start confirmation:"; answer 60000 ok | sed 's/^/  /'
read -r x y w h < <(answer 60000 dialog)
sleep 0.5  # let the page paint once
import -window root -crop "${w}x${h}+${x}+${y}" +repage "$out/orlyn-repair.png"
echo "Screenshot of the dialog: $out/orlyn-repair.png"

# Every further prompt: the success prompt is declined (no web page), a failure is not retried, a
# restart is declined, a warning is acknowledged.
while kill -0 "$program" 2>/dev/null; do
  text=$(answer 1000 show || true)
  [ -n "$text" ] || continue
  echo "Prompt:"; sed 's/^/  /' <<<"$text"
  case "$text" in
    *"복구에 성공했습니다"*|*"재시작"*) answer 5000 no >/dev/null || true ;;
    *"다시 시도하시겠습니까"*) answer 5000 cancel >/dev/null || true ;;
    *) answer 5000 ok >/dev/null || true ;;
  esac
done
wait "$program" || true

for log in "$WINEPREFIX/drive_c/ProgramData/Orlyn/Common/OrlynRepair.log" \
           "$WINEPREFIX/drive_c/users/Public/Desktop/OrlynRepair.log"; do
  if [ -e "$log" ]; then
    cp "$log" "$out/OrlynRepair.log"
    echo "Repair log (${log#"$WINEPREFIX/drive_c/"}, copied to out/OrlynRepair.log):"
    sed 's/\r$//' "$log"
    exit 0
  fi
done
echo "No repair log was left (an initialisation error deletes it)."
