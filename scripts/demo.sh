#!/usr/bin/env bash
# Builds the program and runs it twice under Wine, in a throwaway prefix where
# YarrowTide Desktop is installed in "C:\Program Files\YarrowTide": it shows each
# message and the autostart entry before and after each run.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset windows-x86 >/dev/null
cmake --build --preset windows-x86 >/dev/null

export WINEDEBUG=-all
WINEPREFIX=$(mktemp -d /tmp/yarrowtide-demo.XXXXXX)
export WINEPREFIX
trap 'wineserver -k; rm -rf "$WINEPREFIX"' EXIT
/usr/bin/python3 tests/wine/e2e.py --prefix "$WINEPREFIX" --arch win32 start
wine reg add 'HKLM\Software\Yarrowtide' /v path /d 'C:\Program Files\YarrowTide' /f >/dev/null

run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
show_entry() {
  wine reg query "$run_key" /v 'YarrowTide Desktop' 2>/dev/null | grep 'YarrowTide Desktop' || echo '    (no entry)'
}

for run in 1 2; do
  echo "Run $run"
  echo "  autostart entry before:"
  show_entry
  # The probe answers the program's message box and prints it.
  printf 'run\t%s\n' build/windows-x86/YarrowTideAutostart.exe |
    wine build/windows-x86/tests/wine/probe.exe | sed -n 's/^box\t\(.*\)\t\(.*\)/  message box "\1": \2/p'
  echo "  autostart entry after:"
  show_entry
done
