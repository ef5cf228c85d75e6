#!/usr/bin/env bash
# Keeps the subsystems off the dialog's folder: only the five phase-routine files may include app/.
# Names every other file of removal/, install/, browser/, diagnostics/ or common/ that does, and fails.
# Also keeps the pure files (data in, data out) free of Windows: they may include the standard
# library, RapidJSON and each other, nothing else.
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

pure=(removal/handle_table removal/path_normalize common/log_line_ends app/hosts_scan
      install/payload_manifest_parse install/machine_key_image browser/local_state_json app/argument_quote)
pure_headers=" ${pure[*]/%/.h} "
for base in "${pure[@]}"; do
    for file in "$base.h" "$base.cpp"; do
        while IFS= read -r header; do
            case $header in
                \"*) [[ $pure_headers == *" ${header//\"/} "* ]] && continue ;;
                \<rapidjson/*) continue ;;
                \<*.h\>) ;;
                \<*) continue ;;
            esac
            echo "check-layout: $file includes $header (a pure file needs nothing of Windows)" >&2
            status=1
        done < <(sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*([<"][^>"]*[>"]).*/\1/p' "$file")
    done
done
exit $status
