#!/usr/bin/env bash
# The test platform: one Wine that runs both the shipped 32-bit program (under its WoW64 mode) and the
# 64-bit builds. Debian 12's Wine 8 cannot start 32-bit programs on these machines (they cannot execute
# 32-bit Linux programs, which its 32-bit loader is); Debian 13's Wine 10 can, with no 32-bit Linux code.
# So, unless the host's own Wine already runs 32-bit programs that way, this script makes a Debian 13
# root with Wine 10 once, caches it outside the work tree and runs Wine inside it.
#
#   wine-platform.sh ensure            makes the root when it is missing or out of date (or says the
#                                      host's Wine will do); prints what it uses
#   wine-platform.sh wine ARGS...      runs Wine's loader (a 32-bit or a 64-bit Windows program)
#   wine-platform.sh wineserver ARGS...
#   wine-platform.sh run CMD ARGS...   runs a command of the platform (inside the root, if one is used)
#   wine-platform.sh remove            removes the cached root
#
# The root lives in $ORLYN_WINE_ROOT_CACHE (default /var/cache/orlyn-wine-root). Its stamp file names
# the recipe it was made by; a root with another stamp is made again. ORLYN_WINE_PLATFORM=host|root
# overrides the choice. Each command runs in a private mount namespace (unshare --mount) of its own in
# which /proc, /dev, /sys, /tmp (prefixes, the X socket folder, wineserver's socket) and the work tree
# are bound into the root, so nothing stays mounted after a run or a crash; ORLYN_WINE_BINDS names more
# host folders to bind (blank-separated), e.g. a build folder outside the work tree. Needs root (chroot).
set -euo pipefail

# Change this when the recipe below changes: every cached root made by another recipe is made again.
stamp="orlyn-wine-root 2: trixie minbase; wine64 libwine libwine:i386 fonts-nanum libgl1 libgl1-mesa-dri; i386-windows copied"
cache=${ORLYN_WINE_ROOT_CACHE:-/var/cache/orlyn-wine-root}
root_dir=$cache/root
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work_tree=$(cd "$here/.." && pwd)
loader=/usr/lib/wine/wine64

die() { echo "wine-platform: $*" >&2; exit 1; }

# The host's Wine runs 32-bit programs when it is a WoW64 build (Wine 9 or later with the 32-bit
# Windows-side DLLs beside the 64-bit ones). Debian 12's Wine 8 is not.
host_wine_runs_32bit() {
  [ -x "$loader" ] || return 1
  local version major dlls found=""
  for dlls in /usr/lib/x86_64-linux-gnu/wine /usr/lib/wine /usr/lib64/wine; do
    [ -e "$dlls/i386-windows/ntdll.dll" ] && [ -e "$dlls/x86_64-windows/wow64.dll" ] && found=1
  done
  [ -n "$found" ] || return 1
  version=$("$loader" --version 2>/dev/null) || return 1
  major=${version#wine-}; major=${major%%.*}
  [[ "$major" =~ ^[0-9]+$ ]] && [ "$major" -ge 9 ]
}

platform() {
  case "${ORLYN_WINE_PLATFORM:-}" in
    host|root) echo "$ORLYN_WINE_PLATFORM"; return ;;
    "") ;;
    *) die "ORLYN_WINE_PLATFORM must be host or root" ;;
  esac
  if host_wine_runs_32bit; then echo host; else echo root; fi
}

# The Debian mirror this machine's apt uses (deb822 .sources files first, then classic lists): the
# first "deb" source with a suite that is not a security, updates or backports suite.
debian_mirror() {
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -e "$f" ] || continue
    awk '
      function flush() {
        plain = 0; n = split(suites, s, " ")
        for (i = 1; i <= n; i++) if (s[i] !~ /-security|-updates|-backports|\/updates/) plain = 1
        if (types ~ /(^| )deb( |$)/ && plain && uris != "") { split(uris, u, " "); print u[1]; found = 1; exit }
        types = ""; uris = ""; suites = ""
      }
      /^[ \t]*#/ { next }
      /^[ \t]*$/ { flush(); next }
      tolower($1) == "types:"  { $1 = ""; types = $0 }
      tolower($1) == "uris:"   { $1 = ""; sub(/^ +/, ""); uris = $0 }
      tolower($1) == "suites:" { $1 = ""; suites = $0 }
      END { if (!found) flush() }' "$f"
  done | head -n1 | grep . && return 0
  cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
    awk '$1 == "deb" { i = 2; if ($2 ~ /^\[/) { while ($i !~ /\]$/) i++; i++ }
                       if ($(i + 1) !~ /-security|-updates|-backports/) { print $i; exit } }' | grep .
}

root_is_current() { [ -f "$root_dir/.orlyn-stamp" ] && [ "$(cat "$root_dir/.orlyn-stamp")" = "$stamp" ]; }

# Runs CMD inside ROOT in a private mount namespace with the host's /proc, /dev, /sys, /tmp and the work
# tree bound in, in the caller's folder when the root has it.
in_root() {
  local root=$1; shift
  local binds=("$work_tree")
  [ -n "${ORLYN_WINE_BINDS:-}" ] && read -r -a extra <<<"$ORLYN_WINE_BINDS" && binds+=("${extra[@]}")
  exec unshare --mount --propagation private -- /bin/bash -c '
    set -e
    root=$1 wd=$2 nbinds=$3; shift 3
    mount --rbind /proc "$root/proc"
    mount --rbind /dev "$root/dev"
    mount --rbind /sys "$root/sys"
    mount --rbind /tmp "$root/tmp"
    for ((i = 0; i < nbinds; i++)); do
      mkdir -p "$root$1"; mount --rbind "$1" "$root$1"; shift
    done
    exec chroot "$root" /bin/sh -c "cd \"\$0\" 2>/dev/null || cd /; exec \"\$@\"" "$wd" "$@"
  ' in-root "$root" "$PWD" "${#binds[@]}" "${binds[@]}" "$@"
}

make_root() {
  [ "$(id -u)" -eq 0 ] || die "making the Wine root needs root (debootstrap, chroot)"
  command -v debootstrap >/dev/null || die "debootstrap is missing (bash scripts/setup.sh installs it)"
  local mirror new started
  mirror=$(debian_mirror) || die "no Debian mirror found in this machine's apt configuration"
  mkdir -p "$cache"
  new=$cache/root.new
  rm -rf "$new"
  started=$(date +%s)
  echo "wine-platform: making a Debian 13 root with Wine 10 in $root_dir (once; a few minutes)" >&2
  debootstrap --variant=minbase trixie "$new" "$mirror" >"$cache/debootstrap.log" 2>&1 ||
    { tail -n 20 "$cache/debootstrap.log" >&2; die "debootstrap failed (log: $cache/debootstrap.log)"; }
  ( in_root "$new" /bin/sh -c '
      set -e
      export DEBIAN_FRONTEND=noninteractive
      dpkg --add-architecture i386
      apt-get update -qq
      # Mesa: Direct3D (wined3d) draws through OpenGL; without it Direct3DCreate9 fails.
      apt-get install -y -qq --no-install-recommends wine64 libwine libwine:i386 fonts-nanum \
        libgl1 libgl1-mesa-dri >/dev/null
      apt-get clean
      # The 64-bit loader takes the 32-bit Windows-side DLLs from its own folder.
      cp -a /usr/lib/i386-linux-gnu/wine/i386-windows/. /usr/lib/x86_64-linux-gnu/wine/i386-windows/
      test -x /usr/lib/wine/wine64
    ' ) >"$cache/install.log" 2>&1 ||
    { tail -n 20 "$cache/install.log" >&2; die "installing Wine in the root failed (log: $cache/install.log)"; }
  echo "$stamp" >"$new/.orlyn-stamp"
  rm -rf "$root_dir"
  mv "$new" "$root_dir"
  echo "wine-platform: root made in $(( $(date +%s) - started )) s" >&2
}

ensure() {
  if [ "$(platform)" = host ]; then
    echo "wine-platform: the host's Wine runs 32-bit programs; using it" >&2
    return 0
  fi
  root_is_current && return 0
  mkdir -p "$cache"
  # One maker at a time; the others wait and then find the root made.
  exec 9>"$cache/.lock"
  flock 9
  root_is_current || make_root
  flock -u 9
}

run_in_platform() {
  if [ "$(platform)" = host ]; then
    exec "$@"
  fi
  root_is_current || die "no current Wine root in $root_dir: run 'bash scripts/wine-platform.sh ensure'"
  in_root "$root_dir" "$@"
}

command=${1:-}
shift || true
case "$command" in
  ensure) ensure ;;
  wine) run_in_platform "$loader" "$@" ;;
  wineserver) run_in_platform "${loader%/*}/wineserver" "$@" ;;
  run) run_in_platform "$@" ;;
  remove) rm -rf "$root_dir" "$cache/root.new" ;;
  where) if [ "$(platform)" = host ]; then echo host; else echo "$root_dir"; fi ;;
  *) die "usage: wine-platform.sh ensure|wine|wineserver|run|remove|where ..." ;;
esac
