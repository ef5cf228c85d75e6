#!/usr/bin/env bash
# Builds everything for both targets and runs every test under Wine (x86_64 build), in a fresh prefix.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
jobs=$(nproc)
bash "$root/scripts/build.sh" x86_64 "$root/build/x86_64"
bash "$root/scripts/build.sh" i686 "$root/build/i686"
bash "$root/scripts/check-xp-imports.sh" "$root/build/i686/bin/OrlynRepair.exe"
source "$root/scripts/wine-env.sh"
cd "$root/build/x86_64"
ctest --output-on-failure --timeout 900 -j1 ${ORLYN_CTEST_ARGS:-}
