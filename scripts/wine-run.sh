#!/usr/bin/env bash
# Runs Wine's loader on the test platform (scripts/wine-platform.sh): a 32-bit or a 64-bit Windows
# program in the prefix of this run. Also ctest's emulator.
exec "$(dirname "$0")/wine-platform.sh" wine "$@"
