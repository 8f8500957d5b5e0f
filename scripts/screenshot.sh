#!/usr/bin/env bash
# Makes a PNG of sorvel's window as it opens on a fresh copy of the demo prefix, under a virtual
# X server (Xvfb) at 96 dots an inch. Usage: scripts/screenshot.sh [OUTPUT.png]
# (default: build/sorvel-window.png). Uses $SORVEL, else build/sorvel (built first when missing).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
out=${1:-$repo/build/sorvel-window.png}
case "$out" in /*) ;; *) out=$repo/$out ;; esac

sorvel=${SORVEL:-$repo/build/sorvel}
if [ ! -x "$sorvel" ]; then
  bash scripts/install-deps.sh
  bash scripts/build.sh
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 demo/make_demo_prefix.py "$work/prefix"
cp demo/taRegKeywords.txt "$work/"
mkdir -p "$(dirname "$out")"

# Inside the X server: start sorvel, wait until something is drawn, take the screen, end sorvel.
cat >"$work/shoot.sh" <<'EOF'
set -euo pipefail
cd "$WORK"
WINEPREFIX="$WORK/prefix" "$SORVEL" &
pid=$!
for _ in $(seq 1 100); do
  sleep 0.2
  import -window root "$WORK/screen.png"
  if [ "$(convert "$WORK/screen.png" -format %k info:)" -gt 1 ]; then break; fi
done
sleep 1   # let the window finish painting
import -window root "$WORK/screen.png"
kill "$pid"
wait "$pid" 2>/dev/null || true
EOF
WORK=$work SORVEL=$sorvel QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s "-screen 0 640x480x24 -dpi 96" bash "$work/shoot.sh"

# Without a window manager the window has no frame: what is not black is the client area.
convert "$work/screen.png" -trim +repage "$out"
echo "Screenshot: $out ($(identify -format '%wx%h' "$out") pixels)"
