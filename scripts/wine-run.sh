#!/usr/bin/env bash
# ctest's emulator: runs a Windows test program under Wine in the prefix of this test run.
exec /usr/lib/wine/wine64 "$@"
