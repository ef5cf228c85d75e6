#!/usr/bin/env bash
# Builds both targets and runs every test under Wine 10 (scripts/wine-platform.sh), in a fresh prefix:
# first the i686 build, the shipped 32-bit program and every suite under WoW64 as users run it on
# 64-bit Windows, with the end-to-end runs of OrlynRepair.exe; then the x86_64 build's suites, which
# stand in for the code paths that a 32-bit Windows takes and cover the 64-bit build.
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
passed=0 failed=0 status=0
for arch in i686 x86_64; do
  echo "== $arch suites"
  log=$(mktemp)
  ( cd "$root/build/$arch" && ctest --output-on-failure --timeout 900 -j1 ${ORLYN_CTEST_ARGS:-} ) |
    tee "$log" || status=1
  total=$(sed -n 's/.* tests failed out of \([0-9]*\)$/\1/p' "$log" | tail -n1)
  bad=$(sed -n 's/.*, \([0-9]*\) tests failed out of [0-9]*$/\1/p' "$log" | tail -n1)
  rm -f "$log"
  passed=$((passed + ${total:-0} - ${bad:-0})); failed=$((failed + ${bad:-0}))
done
echo "Whole test command took $(( $(date +%s) - started )) s"
echo "Tests: $passed passed, $failed failed"
exit "$status"
