#!/usr/bin/env bash
# Builds the program and runs it twice under Wine, in a throwaway prefix where
# YarrowTide Desktop is installed in "C:\Program Files\YarrowTide": it shows each
# message and the autostart entry before and after each run. Where this host runs no
# 32-bit code, it runs the x86-64 build of the same sources instead, and says so.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
pick=$(bash scripts/wine-loader.sh best)
read -r build arch loader <<<"$pick"
for preset in windows-x86 "windows-$build"; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" >/dev/null
done
output=build/windows-$build

export WINEDEBUG=-all
WINEPREFIX=$(mktemp -d)
export WINEPREFIX
trap '/usr/bin/python3 tests/wine/e2e.py --arch $arch --prefix "$WINEPREFIX" stop; rm -rf "$WINEPREFIX"' EXIT
/usr/bin/python3 tests/wine/e2e.py --wine "$loader" --prefix "$WINEPREFIX" --arch $arch start
"$loader" reg add 'HKLM\Software\Yarrowtide' /v path /d 'C:\Program Files\YarrowTide' /f >/dev/null

run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
show_entry() {
  "$loader" reg query "$run_key" /v 'YarrowTide Desktop' 2>/dev/null | grep 'YarrowTide Desktop' || echo '    (no entry)'
}

for run in 1 2; do
  echo "Run $run"
  echo "  autostart entry before:"
  show_entry
  # The probe answers the program's message box and prints it.
  printf 'run\t%s\n' "$output/YarrowTideAutostart.exe" |
    "$loader" "$output/tests/wine/probe.exe" | sed -n 's/^box\t\([^\t]*\)\t\([^\t]*\).*/  message box "\1": \2/p'
  echo "  autostart entry after:"
  show_entry
done
