#!/usr/bin/env bash
# Sourced by the end-to-end tests and the demo: seeds the Wine prefix $WINEPREFIX with a broken old
# module, the way a user's PC looks before a repair: its HKLM\SOFTWARE keys sit in the registry view
# that the program reads, $program_view (lib/program.sh): on 64-bit Windows the 32-bit view
# (Wow6432Node) for the shipped 32-bit program and a 32-bit module, the 64-bit view for the 64-bit build.
# Needs $ORLYN_WINE (the loader), $bin (the folder with the fixture programs), $program_view and
# $orlyn_tmp (scripts/wine-lib.sh). Defines start_old_module_processes, which starts two programs of
# the old module and sets seed_pids to their (Unix) process ids, or returns 1 with seed_failure saying
# what it started and what it saw.
#   registry: HKLM SOFTWARE\Orlyn\TSL (the program's view) ("QrDownload" names a folder), SOFTWARE\Orlyn\Shared (its default
#             value names a folder), SOFTWARE\Orlyn\OrlynPlug ("RootPath"), and the Internet Explorer
#             add-on state "Blocked"/"Flags" of one of the module's add-ons
#   disk:     C:\ProgramData\Orlyn\Common, Orlyn\TSL (with read-only files), Orlyn\OrlynPlug\linkinfo.dat,
#             the folders the registry names, and a Chrome Local State that excludes the "tsl" scheme;
#             and Internet Explorer's PreApproved key in both views, which Windows has and a fresh
#             prefix lacks
: "${program_view:?source lib/program.sh first}"
seed_c="$WINEPREFIX/drive_c"
seed_data="$seed_c/ProgramData/Orlyn"
seed_clsid='{080F7E03-AC50-4949-AACA-E79F82D3099F}'
seed_stats="HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Ext\\Stats\\$seed_clsid\\iexplore"
seed_user=$("$ORLYN_WINE" cmd /c 'echo %USERNAME%' 2>/dev/null | tr -d '\r')
seed_chrome="$seed_c/users/$seed_user/AppData/Local/Google/Chrome/User Data"

seed_reg() { "$ORLYN_WINE" reg add "$@" /f >/dev/null 2>&1; }

seed_reg 'HKLM\SOFTWARE\Orlyn\TSL' /v QrDownload /t REG_SZ /d 'C:\OrlynOld\QrDownload' /reg:$program_view
seed_reg 'HKLM\SOFTWARE\Orlyn\TSL' /v Version /t REG_SZ /d '1.0.0.1' /reg:$program_view
seed_reg 'HKLM\SOFTWARE\Orlyn\TSL\Components' /v Count /t REG_DWORD /d 3 /reg:$program_view
seed_reg 'HKLM\SOFTWARE\Orlyn\Shared' /ve /t REG_SZ /d 'C:\OrlynOld\Shared' /reg:$program_view
seed_reg 'HKLM\SOFTWARE\Orlyn\OrlynPlug' /v RootPath /t REG_SZ /d 'C:\OrlynOld\Plug' /reg:$program_view
seed_reg "$seed_stats" /v Blocked /t REG_DWORD /d 1
seed_reg "$seed_stats" /v Flags /t REG_DWORD /d 4
# Present on every Windows with Internet Explorer, in both views; a fresh Wine prefix lacks it.
seed_reg 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Ext\PreApproved' /reg:32
seed_reg 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Ext\PreApproved' /reg:64

mkdir -p "$seed_data/Common/Cache" "$seed_data/TSL/lang" "$seed_data/OrlynPlug" \
         "$seed_c/OrlynOld/QrDownload/parts" "$seed_c/OrlynOld/Shared" "$seed_c/OrlynOld/Plug/KVData/db"
printf 'old settings\r\n' >"$seed_data/Common/settings.ini"
printf 'cache' >"$seed_data/Common/Cache/c1.bin"
printf 'MZ old' >"$seed_data/TSL/TSL.exe"
printf 'MZ old' >"$seed_data/TSL/TSLDll.dll"
printf 'ko' >"$seed_data/TSL/lang/ko.dat"
printf 'link' >"$seed_data/OrlynPlug/linkinfo.dat"
printf 'qr' >"$seed_c/OrlynOld/QrDownload/parts/p1.bin"
printf 'shared' >"$seed_c/OrlynOld/Shared/shared.dat"
printf 'kv' >"$seed_c/OrlynOld/Plug/KVData/db/kv.dat"
"$ORLYN_WINE" cmd /c 'attrib +r C:\ProgramData\Orlyn\TSL\TSLDll.dll & attrib +r C:\ProgramData\Orlyn\TSL\lang\ko.dat & attrib +r C:\OrlynOld\Plug\KVData\db\kv.dat' >/dev/null 2>&1

mkdir -p "$seed_chrome"
printf '{"browser":{"last_known_version":"120.0"},"protocol_handler":{"excluded_schemes":{"tsl":false}}}' \
  >"$seed_chrome/Local State"

# Two programs of the old module: one holds an old module file open without sharing (the program tells
# the user before it ends it), one is named like a listed process (TSL.exe). Each creates the file it
# holds, so the file's appearance shows that it runs.
start_old_module_processes() {
  mkdir -p "$seed_c/OrlynOld/bin"
  cp "$bin/hold_file.exe" "$seed_c/OrlynOld/bin/TslUpdater.exe"
  cp "$bin/hold_file.exe" "$seed_c/OrlynOld/bin/TSL.exe"
  "$ORLYN_WINE" 'C:\OrlynOld\bin\TslUpdater.exe' 'C:\ProgramData\Orlyn\TSL\update.lock' OrlynSeedReady1 - \
    >/dev/null 2>"$orlyn_tmp/seed-1.err" &
  local first=$! second
  "$ORLYN_WINE" 'C:\OrlynOld\bin\TSL.exe' 'C:\OrlynOld\bin\running.txt' OrlynSeedReady2 - share \
    >/dev/null 2>"$orlyn_tmp/seed-2.err" &
  second=$!
  seed_pids="$first $second"
  local i
  for i in $(seq 1 300); do
    [ -e "$seed_data/TSL/update.lock" ] && [ -e "$seed_c/OrlynOld/bin/running.txt" ] && return 0
    # One that ended without making its file never will.
    { kill -0 "$first" 2>/dev/null || [ -e "$seed_data/TSL/update.lock" ]; } &&
      { kill -0 "$second" 2>/dev/null || [ -e "$seed_c/OrlynOld/bin/running.txt" ]; } || break
    sleep 0.1
  done
  seed_failure="the old module's programs did not both start (waited up to 30 s):"
  local pid name err file status
  for pid in $first $second; do
    if [ "$pid" = "$first" ]; then
      name='C:\OrlynOld\bin\TslUpdater.exe (hold_file.exe)' file=$seed_data/TSL/update.lock err=$orlyn_tmp/seed-1.err
    else
      name='C:\OrlynOld\bin\TSL.exe (hold_file.exe)' file=$seed_c/OrlynOld/bin/running.txt err=$orlyn_tmp/seed-2.err
    fi
    if [ -e "$file" ]; then
      seed_failure+=" $name runs;"
    elif kill -0 "$pid" 2>/dev/null; then
      seed_failure+=" $name still runs but has not made ${file#"$seed_c/"};"
    else
      wait "$pid" 2>/dev/null && status=0 || status=$?
      seed_failure+=" $name ended with $status; Wine said: $(orlyn_tail "$err");"
    fi
  done
  seed_failure=${seed_failure%;}
  echo "$seed_failure" >&2
  return 1
}
