#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, as root. Safe to run again.
set -euo pipefail

packages=(
  cmake ninja-build g++ googletest libgtest-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  wine wine64 wine32:i386
  python3-pefile
)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  apt_updated=
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
