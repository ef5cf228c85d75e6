#!/usr/bin/env bash
# Builds one target: scripts/build.sh i686|x86_64 [build folder]. The i686 OrlynRepair.exe is the shipped program.
set -euo pipefail
arch=${1:-i686}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${2:-$root/build/$arch}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
      -DCMAKE_BUILD_TYPE=Release ${ORLYN_CMAKE_ARGS:-} >/dev/null
cmake --build "$build" -- ${ORLYN_NINJA_ARGS:-}
