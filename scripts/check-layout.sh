#!/usr/bin/env bash
# Keeps the subsystems off the dialog's folder: only the five phase-routine files may include app/.
# Names every other file of removal/, install/, browser/, diagnostics/ or common/ that does, and fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
allowed='^(removal/module_check\.cpp|removal/removal_routine\.cpp|browser/cache_cleanup\.cpp|install/install_routine\.cpp|browser/browser_steps\.cpp)$'
status=0
while IFS= read -r file; do
    if [[ ! $file =~ $allowed ]]; then
        echo "check-layout: $file includes app/ (only the phase routines may)" >&2
        status=1
    fi
done < <(grep -rlE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"](\.\./)*app/' \
             removal install browser diagnostics common 2>/dev/null | sort)
exit $status
