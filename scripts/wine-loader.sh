#!/usr/bin/env bash
# The one place that decides which Wine loader runs a build on this host.
#   wine-loader.sh x86   the loader that runs 32-bit x86 programs
#   wine-loader.sh x64   the loader that runs x86-64 programs
#   wine-loader.sh best  the build to run here, x86 where it can, else x64, the kind of
#                        prefix to run it in, and its loader
# Prints the loader's path (for best, "BUILD PREFIX-ARCH LOADER") and exits 0; where this
# host can't run that build, prints the reason on standard error and exits 1; where Wine
# isn't installed, exits 2. For best, one line on standard error says which build runs.
# YARROWTIDE_NO_32BIT=1 answers "no" for x86 on any host, to try the fallback.
set -euo pipefail

loader_of() {
  dpkg -L "$1" 2>/dev/null | grep -E "/lib/wine/$2\$" | head -n 1
}

if [ "${1:-}" = best ]; then
  status=0
  why=$(bash "$0" x86 2>&1 >/dev/null) || status=$?
  case $status in
    0) build=x86 arch=win32 note="Running the x86 build, the one that ships." ;;
    1) build=x64 arch=win64 note="Running the x86-64 build: $why." ;;
    *) echo "$why" >&2
       exit 2 ;;
  esac
  loader=$(bash "$0" $build)
  echo "$note" >&2
  echo "$build $arch $loader"
  exit 0
fi

case "${1:-}" in
  x86)
    loader=$(loader_of wine32 wine)
    if [ -z "$loader" ]; then
      echo "Wine's 32-bit loader is missing: install the package wine32:i386" >&2
      exit 2
    fi
    if [ -n "${YARROWTIDE_NO_32BIT:-}" ]; then
      echo "YARROWTIDE_NO_32BIT is set, so this host counts as one that runs no 32-bit code" >&2
      exit 1
    fi
    # Where the kernel runs no 32-bit user code, the loader fails with "Exec format error".
    if ! error=$("$loader" --version 2>&1 >/dev/null); then
      echo "this host runs no 32-bit code ($loader: ${error##*: })" >&2
      exit 1
    fi
    ;;
  x64)
    loader=$(loader_of wine64 wine64)
    if [ -z "$loader" ]; then
      echo "Wine's 64-bit loader is missing: install the package wine64" >&2
      exit 2
    fi
    ;;
  *)
    echo "usage: $0 x86|x64|best" >&2
    exit 2
    ;;
esac
echo "$loader"
