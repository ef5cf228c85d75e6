#!/usr/bin/env bash
# Runs the wineserver of the test platform (scripts/wine-platform.sh), e.g. -k or -w for this prefix.
exec "$(dirname "$0")/wine-platform.sh" wineserver "$@"
