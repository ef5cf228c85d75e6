#!/usr/bin/env bash
# Keeps the subsystems off the dialog's folder: no program file outside app/ includes anything from app/
# (the dialog calls down into the subsystems, never the other way). Names every one that does, and fails.
# Also keeps the pure files (data in, data out) free of Windows: they may include the standard
# library, RapidJSON and each other, nothing else.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
status=0
while IFS= read -r file; do
    echo "check-layout: $file includes app/ (only app/ may)" >&2
    status=1
done < <(grep -rlE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"](\.\./)*app/' \
             removal install browser diagnostics common framework payload resources 2>/dev/null | sort)

pure=(removal/handle_table removal/path_normalize removal/removal_memo_text common/log_line_ends app/hosts_scan
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
