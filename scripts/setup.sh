#!/usr/bin/env bash
# Installs what building and testing need, from Debian's packages, when it is missing, and makes the
# test platform's Wine root once (scripts/wine-platform.sh; cached outside the work tree).
set -euo pipefail
packages=(cmake ninja-build g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix googletest rapidjson-dev
          debootstrap xvfb xauth x11-utils fonts-nanum imagemagick xdotool)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
$SUDO bash "$(dirname "$0")/wine-platform.sh" ensure
