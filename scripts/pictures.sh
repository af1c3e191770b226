#!/usr/bin/env bash
# Runs the program under Wine on a virtual X display and saves each of its four message
# boxes as the user sees it, in docs/pictures/. Uses a throwaway Wine prefix.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${DISPLAY:-}" ]; then
  bash scripts/install-deps.sh xvfb xauth xdotool imagemagick fonts-wine
  exec xvfb-run -a -s "-screen 0 800x600x24" bash "$0" "$@"
fi

cmake --preset windows-x86 >/dev/null
cmake --build --preset windows-x86 >/dev/null
export WINEDEBUG=-all WINEARCH=win32 WINEDLLOVERRIDES="mscoree,mshtml="
WINEPREFIX=$(mktemp -d /tmp/yarrowtide-pictures.XXXXXX)
export WINEPREFIX
trap 'wineserver -k; rm -rf "$WINEPREFIX"' EXIT
wineboot --init >/dev/null 2>&1
mkdir -p docs/pictures

reg() { wine reg "$@" >/dev/null 2>&1 || true; }
maker='HKLM\Software\Yarrowtide'
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
screen=$(mktemp /tmp/yarrowtide-screen.XXXXXX.png)

# Runs the program, waits until its box is drawn on the otherwise black screen, saves
# the box cropped, and answers it with Return.
picture() {
  wine build/windows-x86/YarrowTideAutostart.exe &
  local program=$!
  for _ in $(seq 60); do
    sleep 0.5
    import -window root "$screen"
    [ "$(convert "$screen" -format '%[fx:maxima.r]' info:)" != 0 ] && break
  done
  sleep 1
  import -window root "$screen"
  convert "$screen" -trim +repage "docs/pictures/$1.png"
  xdotool key Return
  wait "$program"
  echo "saved docs/pictures/$1.png"
}

# With no window manager on the display, Wine draws the boxes' title bars itself.
reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f
reg add "$maker" /v path /d 'C:\Program Files\YarrowTide' /f
reg delete "$run_key" /f
picture no-run-key
reg add "$run_key" /f
picture written
picture deleted
reg delete "$maker" /f
picture not-installed
