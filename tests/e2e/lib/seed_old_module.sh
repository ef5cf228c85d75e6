#!/usr/bin/env bash
# Sourced by the end-to-end tests and the demo: seeds the Wine prefix $WINEPREFIX with a broken old
# module, the way a user's 64-bit PC looks before a repair: the module is 32-bit, so its HKLM\SOFTWARE
# keys sit in the 32-bit registry view (Wow6432Node). Needs $ORLYN_WINE (the loader) and $bin (the
# folder with the fixture programs). Defines start_old_module_processes, which starts two programs of
# the old module and sets seed_pids to their (Unix) process ids.
#   registry: HKLM SOFTWARE\Orlyn\TSL (32-bit view) ("QrDownload" names a folder), SOFTWARE\Orlyn\Shared (its default
#             value names a folder), SOFTWARE\Orlyn\OrlynPlug ("RootPath"), and the Internet Explorer
#             add-on state "Blocked"/"Flags" of one of the module's add-ons
#   disk:     C:\ProgramData\Orlyn\Common, Orlyn\TSL (with read-only files), Orlyn\OrlynPlug\linkinfo.dat,
#             the folders the registry names, and a Chrome Local State that excludes the "tsl" scheme;
#             and Internet Explorer's PreApproved key in both views, which Windows has and a fresh
#             prefix lacks
seed_c="$WINEPREFIX/drive_c"
seed_data="$seed_c/ProgramData/Orlyn"
seed_clsid='{080F7E03-AC50-4949-AACA-E79F82D3099F}'
seed_stats="HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Ext\\Stats\\$seed_clsid\\iexplore"
seed_user=$("$ORLYN_WINE" cmd /c 'echo %USERNAME%' 2>/dev/null | tr -d '\r')
seed_chrome="$seed_c/users/$seed_user/AppData/Local/Google/Chrome/User Data"

seed_reg() { "$ORLYN_WINE" reg add "$@" /f >/dev/null 2>&1; }

seed_reg 'HKLM\SOFTWARE\Orlyn\TSL' /v QrDownload /t REG_SZ /d 'C:\OrlynOld\QrDownload' /reg:32
seed_reg 'HKLM\SOFTWARE\Orlyn\TSL' /v Version /t REG_SZ /d '1.0.0.1' /reg:32
seed_reg 'HKLM\SOFTWARE\Orlyn\TSL\Components' /v Count /t REG_DWORD /d 3 /reg:32
seed_reg 'HKLM\SOFTWARE\Orlyn\Shared' /ve /t REG_SZ /d 'C:\OrlynOld\Shared' /reg:32
seed_reg 'HKLM\SOFTWARE\Orlyn\OrlynPlug' /v RootPath /t REG_SZ /d 'C:\OrlynOld\Plug' /reg:32
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
    >/dev/null 2>&1 &
  seed_pids=$!
  "$ORLYN_WINE" 'C:\OrlynOld\bin\TSL.exe' 'C:\OrlynOld\bin\running.txt' OrlynSeedReady2 - share >/dev/null 2>&1 &
  seed_pids="$seed_pids $!"
  local i
  for i in $(seq 1 300); do
    [ -e "$seed_data/TSL/update.lock" ] && [ -e "$seed_c/OrlynOld/bin/running.txt" ] && return 0
    sleep 0.1
  done
  echo "the old module's programs did not start" >&2
  return 1
}
