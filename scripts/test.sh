#!/usr/bin/env bash
# Builds both targets and runs every test under Wine 10 (scripts/wine-platform.sh), in a fresh prefix:
# first the i686 build, the shipped 32-bit program and every suite under WoW64 as users run it on
# 64-bit Windows, with the end-to-end runs of OrlynRepair.exe; then the x86_64 build's suites, which
# stand in for the code paths that a 32-bit Windows takes and cover the 64-bit build.
# Where this machine cannot run 32-bit code (scripts/wine-lib.sh, orlyn_know_32bit; ORLYN_NO_32BIT=1
# forces that path), each i686 entry is reported as skipped, with the reason, and the x86_64 build runs
# the end-to-end runs as well, on its own OrlynRepair.exe. ORLYN_CTEST_ARGS goes to every ctest call.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
started=$(date +%s)
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh" i686 "$root/build/i686"
bash "$root/scripts/build.sh" x86_64 "$root/build/x86_64"
bash "$root/scripts/check-xp-imports.sh" "$root/build/i686/bin/OrlynRepair.exe"
bash "$root/scripts/check-layout.sh"
echo "Ready to test after $(( $(date +%s) - started )) s"
source "$root/scripts/wine-env.sh"
probe_started=$(date +%s%N)
orlyn_know_32bit
echo "Whether 32-bit programs run here: $ORLYN_RUNS_32BIT ($(( ($(date +%s%N) - probe_started) / 1000000 )) ms)"
passed=0 failed=0 skipped=0 status=0

# run_suites ARCH CTEST_ARGS...: runs that build's ctest entries and adds up their results.
run_suites() {
  local arch=$1 log total bad not_run; shift
  log=$(mktemp)
  ( cd "$root/build/$arch" && ctest --output-on-failure --timeout 900 -j1 "$@" ${ORLYN_CTEST_ARGS:-} ) |
    tee "$log" || status=1
  total=$(sed -n 's/.* tests failed out of \([0-9]*\)$/\1/p' "$log" | tail -n1)
  bad=$(sed -n 's/.*, \([0-9]*\) tests failed out of [0-9]*$/\1/p' "$log" | tail -n1)
  not_run=$(grep -c '^[[:space:]]*[0-9]* - .* (Skipped)$' "$log" || true)
  rm -f "$log"
  passed=$((passed + ${total:-0} - ${bad:-0} - not_run)); failed=$((failed + ${bad:-0}))
  skipped=$((skipped + not_run))
}

if [ "$ORLYN_RUNS_32BIT" = yes ]; then
  echo "== i686 suites"
  run_suites i686
  echo "== x86_64 suites"
  run_suites x86_64 -LE e2e  # the end-to-end runs are the shipped program's, above
else
  echo "== i686 suites: skipped, $ORLYN_NO_32BIT_REASON"
  while read -r name; do
    echo "skipped: i686 $name"
    skipped=$((skipped + 1))
  done < <(cd "$root/build/i686" && ctest -N ${ORLYN_CTEST_ARGS:-} | sed -n 's/^ *Test *#[0-9]*: //p')
  echo "== x86_64 suites, and the end-to-end runs on the x86_64 OrlynRepair.exe"
  run_suites x86_64
fi
echo "Whole test command took $(( $(date +%s) - started )) s"
[ "$ORLYN_RUNS_32BIT" = yes ] || echo "The i686 entries were skipped: $ORLYN_NO_32BIT_REASON"
echo "Tests: $passed passed, $failed failed, $skipped skipped"
exit "$status"
