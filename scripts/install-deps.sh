#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, as root, and any further
# packages named on the command line. Safe to run again.
set -euo pipefail

packages=(
  cmake ninja-build g++ googletest libgtest-dev clang-tidy cppcheck git
  g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  wine wine64 wine32:i386 fonts-wine
  python3 python3-pefile
  osslsigncode openssl ca-certificates libengine-pkcs11-openssl softhsm2
  "$@"
)
# The workflow lint runs on Node; a machine that has none gets Debian's.
command -v node >/dev/null && command -v npm >/dev/null || packages+=(nodejs npm)

dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386

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
