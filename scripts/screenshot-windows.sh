#!/usr/bin/env bash
# Makes a PNG of sorvel.exe's window (the Win32 one, x86_64, under Wine) as it opens, under a
# virtual X server (Xvfb) at 96 dots an inch (or DPI), in a fresh Wine prefix of its own: the
# client area, like scripts/screenshot.sh takes of the Qt window.
# Usage: scripts/screenshot-windows.sh [OUTPUT.png [DPI]] (default: build/sorvel-window-win32.png,
# 96; 144 is Windows' 150 %).
# Uses $SORVEL_EXE, else build/windows-x86_64/sorvel.exe (built first when missing).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
out=${1:-$repo/build/sorvel-window-win32.png}
dpi=${2:-96}
case "$out" in /*) ;; *) out=$repo/$out ;; esac

exe=${SORVEL_EXE:-$repo/build/windows-x86_64/sorvel.exe}
if [ ! -f "$exe" ]; then
  bash scripts/build-windows.sh
fi

work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEDEBUG=-all
cleanup() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
echo "Making a Wine prefix for the picture (some seconds)"
DISPLAY= /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1  # a 64-bit prefix, by its loader
# Wine draws at the DPI of the prefix's setting, as Windows does at its display setting.
DISPLAY= /usr/lib/wine/wine64 reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD \
  /d "$dpi" /f >/dev/null
wineserver -w
mkdir -p "$(dirname "$out")"

# Inside the X server: start sorvel.exe, wait for its window, let it paint, take the window.
cat >"$work/shoot.sh" <<'INNER'
set -euo pipefail
cd "$WORK"
/usr/lib/wine/wine64 "$EXE" &  # the 64-bit loader: plain wine may be the 32-bit one
window=
for _ in $(seq 1 150); do
  window=$(xdotool search --onlyvisible --name '^Tarvo Registry Cleaner$' 2>/dev/null | head -1) || true
  [ -n "$window" ] && break
  sleep 0.2
done
[ -n "$window" ] || { echo "the window did not open" >&2; exit 1; }
sleep 1   # let the window finish painting
import -window "$window" "$OUT"
wineserver -k
INNER
WORK=$work EXE=$exe OUT=$out xvfb-run -a -s "-screen 0 800x600x24 -dpi $dpi" bash "$work/shoot.sh"
echo "Screenshot: $out ($(identify -format '%wx%h' "$out") pixels)"
