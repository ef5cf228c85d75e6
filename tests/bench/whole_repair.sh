#!/usr/bin/env bash
# Times a whole repair by the shipped 32-bit OrlynRepair.exe (under WoW64; the x86_64 build where this
# machine cannot run 32-bit code, scripts/wine-lib.sh orlyn_know_32bit) on a prefix seeded with a
# broken old module (the same seeding as the end-to-end test and the demo) and sets the wall time
# against the waits that are fixed in the program: the sequencer's timer delays and the 500 ms waits
# after ending each listed process. The cache clean-up's simulated progress only ticks while the clean-up
# runs and adds none.
# Run by hand: bash tests/bench/whole_repair.sh [BIN_DIR] [RUNS]   (needs a build: scripts/build.sh i686,
# or x86_64 where 32-bit code cannot run; BIN_DIR defaults to the one that runs here)
# Wall time is measured from the start confirmation's answer to the success prompt's appearance, so
# neither Wine's start-up nor the time a person takes to answer counts; the notices on the way are
# answered at once and their time is included.
# Each phase's wall time comes from the state changes: every phase routine begins by writing its banner
# to the log, which is flushed at once; a watcher polls the log every 20 ms and notes when each banner
# appears. A phase's time runs from its banner to the next one (the last, the install, to the success
# prompt) and includes the sequencer's delays between the two; what is left after the fixed waits is the
# program's own work and Wine's cost of the calls it makes, and in the removal and the install the box
# each shows on the way (the notice before the holder is ended, the reachability warning) with its two
# answering calls.
# The first interval, from the start confirmation's answer to the check's banner, is the dialog's
# initialisation: after each repair bench_dialog_init.exe (tests/bench/dialog_init.cpp) runs it again in
# the same prefix, in fresh processes, and prints its steps: the dialog's window, the page with the log
# and the system report (and the report alone, and its Direct3D adapter query alone: that is Wine's
# time), the removal list, the manifest, the page's load and the sequencer's 100 ms up to the check.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
runs=${2:-3}
# One display for every run; each run makes its own prefix.
source "$root/scripts/wine-lib.sh"
[ -n "${DISPLAY:-}" ] || orlyn_start_display
# Whether the 32-bit program runs here, found out once for every run.
if [ -n "${1:-}" ]; then
  source "$root/tests/e2e/lib/program.sh" "$1"
  if [ "$program_bits" = 32 ]; then
    orlyn_know_32bit
    [ "$ORLYN_RUNS_32BIT" = yes ] ||
      { echo "The 32-bit program cannot run here: $ORLYN_NO_32BIT_REASON (give the x86_64 build's bin folder)" >&2; exit 1; }
  fi
else
  orlyn_know_32bit
  if [ "$ORLYN_RUNS_32BIT" = yes ]; then
    bin=$root/build/i686/bin
  else
    echo "Timing the x86_64 build, not the shipped 32-bit one: $ORLYN_NO_32BIT_REASON"
    bin=$root/build/x86_64/bin
  fi
fi
bin=$(cd "${bin:-$1}" && pwd)
echo "Timing $bin/OrlynRepair.exe"
# The sequencer's fixed delays on the road of a successful run, in ms, by the phase whose time holds
# them: before the check (state 0 -> 1, 100); after the check (its result 100, on to the removal 200);
# after the removal (its result 100); after the cache clean-up (its result 100, on to the install 200);
# after the install (its result 100, on to the final state 200).
phases=(check removal cache install)
banners=("모듈 체크 루틴" "기존 모듈 삭제 루틴" "임시 인터넷 파일 삭제 루틴" "신규 모듈 설치 루틴")
declare -A phase_delay_ms=([start]=100 [check]=300 [removal]=100 [cache]=300 [install]=300)
sequencer_ms=1100
kill_wait_ms=500

now_ms() { date +%s%3N; }
for run in $(seq 1 "$runs"); do
  (
    source "$root/tests/e2e/lib/prefix.sh" "$bin" seeded running
    install_program
    marks=$tmp/marks
    : >"$marks"
    "$ORLYN_WINE" 'C:\OrlynRepair.exe' >/dev/null 2>&1 &
    program=$!
    answer 60000 show >/dev/null
    answer 10000 ok >/dev/null
    start=$(now_ms)
    # The watcher: the time each banner first appears in the log.
    (
      seen=0
      while [ "$seen" -lt "${#banners[@]}" ] && [ ! -e "$tmp/stop" ]; do
        if [ -f "$desktop_log" ] && grep -qF -- "${banners[$seen]}" "$desktop_log"; then
          echo "${phases[$seen]} $(now_ms)" >>"$marks"
          seen=$((seen + 1))
          continue
        fi
        sleep 0.02
      done
    ) &
    watcher=$!
    while :; do
      text=$(answer 120000 show) || { echo "no success prompt" >&2; exit 1; }
      case "$text" in *"복구에 성공했습니다"*) break ;; esac
      answer 10000 ok >/dev/null || true
    done
    end=$(now_ms)
    touch "$tmp/stop"
    wait "$watcher" || true
    # One answering call on a box that is already up: what each box costs on top of the program's work
    # (each of the two notices on the way stood open for about two such calls: show, then OK).
    t0=$(now_ms); answer 10000 show >/dev/null; overhead=$(( $(now_ms) - t0 ))
    answer 10000 no >/dev/null
    wait "$program" || true
    log=$archive_log
    # Every call that ends processes by name finishes with a "Kill Process Success" or "Failure" line.
    # One that found nothing to end ("Try to kill" never written for its name) slept the full 500 ms;
    # one that ended processes waited only until they went (at most 500 ms), which is not a fixed wait.
    kill_lines() {
      tr -d '\r' | awk '
        /Try to kill / { n = $0; sub(/.*Try to kill /, "", n); tried[n] = 1 }
        /Kill Process Success : / { n = $0; sub(/.*Kill Process Success : /, "", n); if (!(n in tried)) fixed++ }
        /Kill Process Failure/ { fixed++ }
        END { print fixed + 0 }'
    }
    kills=$(kill_lines <"$log")
    ended=$(tr -d '\r' <"$log" | grep -c "Kill Process Success" || true)
    fixed=$((sequencer_ms + kills * kill_wait_ms))
    wall=$((end - start))
    awk -v r="$run" -v w="$wall" -v f="$fixed" -v k="$kills" -v s="$sequencer_ms" -v o="$overhead" \
        -v e="$((ended - kills))" 'BEGIN {
      printf "run %d: wall %d ms, fixed waits %d ms (sequencer %d + %d x 500 ms; %d more calls ended programs and waited until they went), ratio wall/fixed %.2f\n",
             r, w, f, s, k, e, w / f
      printf "       one answering call %d ms; without 2 boxes x 2 calls: %d ms, ratio %.2f\n",
             o, w - 4 * o, (w - 4 * o) / f }'
    # The phases, banner to banner; kill waits belong to the phase whose section of the log holds them.
    declare -A at=()
    while read -r name ms; do at[$name]=$ms; done <"$marks"
    previous=start previous_ms=$start
    for i in "${!phases[@]}"; do
      name=${phases[$i]}
      [ -n "${at[$name]:-}" ] || { echo "       $name: its banner was not seen" >&2; continue; }
      if [ "$previous" != start ]; then
        next_banner=${banners[$i]}
        section_kills=$(awk -v a="${banners[$((i - 1))]}" -v b="$next_banner" \
          'index($0, a) { on = 1 } index($0, b) { on = 0 } on' "$log" | kill_lines)
        phase_fixed=$(( phase_delay_ms[$previous] + section_kills * kill_wait_ms ))
        printf "       %-8s %6d ms, fixed waits %5d ms, the rest %6d ms\n" "$previous" \
          $(( at[$name] - previous_ms )) "$phase_fixed" $(( at[$name] - previous_ms - phase_fixed ))
      else
        printf "       %-8s %6d ms, fixed waits %5d ms (the start confirmation's answer to the check)\n" \
          "start" $(( at[$name] - previous_ms )) "${phase_delay_ms[start]}"
        init_steps=1
      fi
      previous=$name previous_ms=${at[$name]}
    done
    section_kills=$(awk -v a="${banners[3]}" 'index($0, a) { on = 1 } on' "$log" | kill_lines)
    phase_fixed=$(( phase_delay_ms[install] + section_kills * kill_wait_ms ))
    printf "       %-8s %6d ms, fixed waits %5d ms, the rest %6d ms (to the success prompt)\n" "install" \
      $(( end - previous_ms )) "$phase_fixed" $(( end - previous_ms - phase_fixed ))
    # The start interval's steps, measured in the same prefix by fresh processes of their own.
    if [ -n "${init_steps:-}" ]; then
      echo "       the start interval's steps (bench_dialog_init.exe, the same dialog again in this prefix):"
      for mode in "" report d3d; do
        "$ORLYN_WINE" "$bin/bench_dialog_init.exe" $mode 2>/dev/null | tr -d '\r' | sed 's/^/         /' ||
          echo "         bench_dialog_init.exe $mode failed" >&2
      done
    fi
  )
done
