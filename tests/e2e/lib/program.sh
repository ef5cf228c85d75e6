#!/usr/bin/env bash
# Sourced with the folder of the program and the fixtures (lib/prefix.sh does it; the demo too):
#   source lib/program.sh BIN_DIR
# Says which build of OrlynRepair.exe that folder holds and where that build keeps what it writes on
# 64-bit Windows (Wine here is always 64-bit), so that the seeding, the runs and the checks need no
# code of their own for either build. Sets bin and:
#   program_bits     32 (the shipped i686 build, under WoW64) or 64 (the x86_64 build)
#   program_view     the registry view of its own HKLM\SOFTWARE keys and of the old module's, as reg.exe's
#                    /reg: takes it: 32 (Wow6432Node) for the 32-bit program, 64 for the 64-bit one
#   other_view       the other view, where none of those keys may appear
#   program_wow64    yes when the program runs under WoW64 (and so also writes its 64-bit entries)
#   program_files    'C:\Program Files (x86)' or 'C:\Program Files': the programs' folder of its bitness
# and program_reg VERB KEY ARGS...: reg.exe in the program's view (reg.exe started from a script is the
# 64-bit one and would read the 64-bit view).
bin=$(cd "${1:?usage: source lib/program.sh BIN_DIR}" && pwd)

# pe_machine FILE: the machine field of a Windows program's PE header (014c i386, 8664 x86-64).
pe_machine() {
  local pe
  [ "$(head -c 2 "$1" 2>/dev/null)" = MZ ] || return 1
  pe=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ') || return 1
  [ "$(od -An -c -j"$pe" -N2 "$1" | tr -d ' ')" = PE ] || return 1
  od -An -tx2 -j$((pe + 4)) -N2 "$1" | tr -d ' '
}

case "$(pe_machine "$bin/OrlynRepair.exe")" in
  014c) program_bits=32 program_view=32 other_view=64 program_wow64=yes program_files='C:\Program Files (x86)' ;;
  8664) program_bits=64 program_view=64 other_view=32 program_wow64=no program_files='C:\Program Files' ;;
  *) echo "program.sh: $bin/OrlynRepair.exe is no 32-bit or 64-bit Windows program (is it built?)" >&2
     exit 1 ;;
esac

program_reg() { "$ORLYN_WINE" reg "$@" "/reg:$program_view"; }
