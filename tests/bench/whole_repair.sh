#!/usr/bin/env bash
# Times a whole repair by the real OrlynRepair.exe on a prefix seeded with a broken old module (the
# same seeding as the end-to-end test and the demo) and sets the wall time against the waits that are
# fixed in the program: the sequencer's timer delays and the 500 ms waits after ending each listed
# process. The cache clean-up's simulated progress only ticks while the clean-up runs and adds none.
# Run by hand: bash tests/bench/whole_repair.sh [BIN_DIR] [RUNS]   (needs a build: scripts/build.sh x86_64)
# Wall time is measured from the start confirmation's answer to the success prompt's appearance, so
# neither Wine's start-up nor the time a person takes to answer counts; the notices on the way are
# answered at once and their time is included.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
bin=$(cd "${1:-$root/build/x86_64/bin}" && pwd)
runs=${2:-3}
if [ -z "${DISPLAY:-}" ]; then
  source "$root/scripts/wine-env.sh"
fi
# The sequencer's fixed delays on the road of a successful run, in ms: state 0 -> 1 (100), the check's
# result (100), on to the removal (200), the removal's result (100), the cache clean-up's result (100),
# on to the install (200), the install's result (100), on to the final state (200).
sequencer_ms=$((100 + 100 + 200 + 100 + 100 + 200 + 100 + 200))
kill_wait_ms=500

now_ms() { date +%s%3N; }
for run in $(seq 1 "$runs"); do
  (
    source "$root/tests/e2e/lib/prefix.sh"
    source "$root/tests/e2e/lib/prompts.sh"
    source "$root/tests/e2e/lib/seed_old_module.sh"
    start_old_module_processes
    cp "$bin/OrlynRepair.exe" "$WINEPREFIX/drive_c/OrlynRepair.exe"
    "$ORLYN_WINE" 'C:\OrlynRepair.exe' >/dev/null 2>&1 &
    program=$!
    answer 60000 show >/dev/null
    answer 10000 ok >/dev/null
    start=$(now_ms)
    while :; do
      text=$(answer 120000 show) || { echo "no success prompt" >&2; exit 1; }
      case "$text" in *"복구에 성공했습니다"*) break ;; esac
      answer 10000 ok >/dev/null || true
    done
    end=$(now_ms)
    # One answering call on a box that is already up: what each box costs on top of the program's work
    # (each of the two notices on the way stood open for about two such calls: show, then OK).
    t0=$(now_ms); answer 10000 show >/dev/null; overhead=$(( $(now_ms) - t0 ))
    answer 10000 no >/dev/null
    wait "$program" || true
    log="$WINEPREFIX/drive_c/ProgramData/Orlyn/Common/OrlynRepair.log"
    # Every call that ends processes by name finishes with one of these lines and waited 500 ms at least
    # once (the full 500 ms when nothing was running; at most 500 ms while the ended ones go).
    kills=$(grep -c -e "Kill Process Success" -e "Kill Process Failure" "$log" || true)
    fixed=$((sequencer_ms + kills * kill_wait_ms))
    wall=$((end - start))
    awk -v r="$run" -v w="$wall" -v f="$fixed" -v k="$kills" -v s="$sequencer_ms" -v o="$overhead" 'BEGIN {
      printf "run %d: wall %d ms, fixed waits %d ms (sequencer %d + %d x 500 ms), ratio wall/fixed %.2f\n",
             r, w, f, s, k, w / f
      printf "       one answering call %d ms; without 2 boxes x 2 calls: %d ms, ratio %.2f\n",
             o, w - 4 * o, (w - 4 * o) / f }'
  )
done
