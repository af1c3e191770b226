#!/usr/bin/env bash
# Runs the program under Wine on a virtual X display and saves each of its four message
# boxes as the user sees it, in docs/pictures/. Uses a throwaway Wine prefix, and the
# x86-64 build where this host runs no 32-bit code.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${DISPLAY:-}" ]; then
  bash scripts/install-deps.sh xvfb xauth xdotool imagemagick fonts-wine
  exec xvfb-run -a -s "-screen 0 800x600x24" bash "$0" "$@"
fi

pick=$(bash scripts/wine-loader.sh best)
read -r build arch loader <<<"$pick"
cmake --preset "windows-$build" >/dev/null
cmake --build --preset "windows-$build" >/dev/null
export WINEDEBUG=-all WINEARCH=$arch WINEDLLOVERRIDES="mscoree,mshtml="
WINEPREFIX=$(mktemp -d)
export WINEPREFIX
trap '/usr/bin/python3 tests/wine/e2e.py --arch $arch --prefix "$WINEPREFIX" stop
      rm -rf "$WINEPREFIX" "${screen-}"' EXIT
"$loader" wineboot --init >/dev/null 2>&1
# Debian's Wine doesn't look for the fonts of fonts-wine, Marlett among them, which
# draws the title bar's close button; fonts in the prefix's own folder it does load.
dpkg -L fonts-wine | grep -E '\.(ttf|fon)$' | xargs cp -t "$WINEPREFIX/drive_c/windows/Fonts"
mkdir -p docs/pictures

reg() { "$loader" reg "$@" >/dev/null 2>&1 || true; }
maker='HKLM\Software\Yarrowtide'
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
screen=$(mktemp --suffix=.png)

# Runs the program, waits until its box is drawn on the otherwise black screen, saves
# the box cropped, and answers it with Return.
picture() {
  "$loader" "build/windows-$build/YarrowTideAutostart.exe" &
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
reg add "$run_key" /f
# A Run key that anyone may read and nobody change, as a policy might leave it; the
# probe sets that up, and removes the key again.
probe() { printf '%s\tHKCU\tSoftware\\Microsoft\\Windows\\CurrentVersion\\Run%s\n' "$1" "${2:+$'\t'$2}" |
          "$loader" "build/windows-$build/tests/wine/probe.exe"; }
probe refuse KR
picture no-run-key
probe delete
picture written
picture deleted
reg delete "$maker" /f
picture not-installed
