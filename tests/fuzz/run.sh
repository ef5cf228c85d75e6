#!/usr/bin/env bash
# Native checks of the Local State edit on Linux, outside the Windows build:
#   1. g++ with AddressSanitizer and UndefinedBehaviorSanitizer over the seed inputs in corpus/;
#   2. when clang++ is there, a libFuzzer run of SECONDS (default 60) starting from those seeds.
# Usage: tests/fuzz/run.sh [SECONDS]. Work files go to a temporary folder.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
seconds=${1:-60}
out=$(mktemp -d /tmp/orlyn-fuzz.XXXXXX)
trap 'rm -rf "$out"' EXIT
flags=(-std=c++17 -g -O1 -fno-omit-frame-pointer -I"$root" -Wall -Wextra)
sources=("$here/local_state_fuzz.cpp" "$root/browser/local_state_json.cpp")
# Undefined behaviour stops the run, except what ubsan.supp lists (suppressions need recoverable checks).
export ASAN_OPTIONS=detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:suppressions=$here/ubsan.supp

g++ "${flags[@]}" -fsanitize=address,undefined "${sources[@]}" \
    "$here/standalone_main.cpp" -o "$out/seeds"
"$out/seeds" "$here"/corpus/*

if command -v clang++ >/dev/null; then
    clang++ "${flags[@]}" -fsanitize=fuzzer,address,undefined "${sources[@]}" \
        -o "$out/fuzz"
    mkdir "$out/corpus"
    cp "$here"/corpus/* "$out/corpus/"
    status=0
    (cd "$out" && ./fuzz -max_total_time="$seconds" -max_len=4096 -dict="$here/local_state.dict" -print_final_stats=1 corpus >fuzz.log 2>&1) ||
        status=$?
    tail -n 25 "$out/fuzz.log"
    if [ "$status" -ne 0 ] || ls "$out"/crash-* "$out"/leak-* "$out"/timeout-* >/dev/null 2>&1; then
        mkdir -p "$here/found"
        cp "$out"/crash-* "$out"/leak-* "$out"/timeout-* "$here/found/" 2>/dev/null || true
        echo "failing inputs kept in $here/found"
        exit 1
    fi
fi
