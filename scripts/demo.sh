#!/usr/bin/env bash
# The main job: build sorvel and start it on a fresh copy of the demo prefix, in a folder that
# holds the keyword file. When the window is closed, show what the run did and how to undo it.
#   bash scripts/demo.sh            the demo (needs a display; without one: a screenshot)
#   bash scripts/demo.sh restore    import the demo's backup with Wine's reg, then show it
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
run=$repo/demo/run
prefix=$run/prefix

# The suite's registrations that the prefix holds, one a line.
show_suite_keys() {
  local keys
  keys=$(python3 "$repo/demo/list_suite_keys.py" "$prefix")
  if [ -z "$keys" ]; then
    echo "  (none)"
  else
    echo "$keys" | sed 's/^/  /'
  fi
}

if [ "${1:-}" = "restore" ]; then
  [ -f "$run/taDeletedRegKeys.reg" ] || { echo "No backup in $run: run the demo first." >&2; exit 1; }
  echo "Importing $run/taDeletedRegKeys.reg into $prefix with Wine's reg"
  echo "(the first start of Wine in the prefix completes it; that takes a few seconds) ..."
  (cd "$run" && WINEPREFIX=$prefix WINEDEBUG=-all wine reg import taDeletedRegKeys.reg /reg:64)
  WINEPREFIX=$prefix wineserver -w
  echo "The suite's keys in the prefix now:"
  show_suite_keys
  exit 0
fi

bash scripts/install-deps.sh
bash scripts/build.sh

# A fresh copy every time: a demo run really deletes keys.
if [ -d "$prefix" ]; then WINEPREFIX=$prefix wineserver -k 2>/dev/null || true; fi
rm -rf "$run"
mkdir -p "$run"
python3 demo/make_demo_prefix.py "$prefix"
cp demo/taRegKeywords.txt "$run/"

cat <<EOF

Demo folder: $run
  prefix/             a small 64-bit Wine prefix in which the fictional suite "Tarvo Nexbay 98"
                      was installed as its 32-bit installer does it: ProgIDs, classes and
                      interfaces in the 32-bit node (HKEY_CLASSES_ROOT\Wow6432Node), type
                      libraries in the shared TypeLib, settings and uninstall entry below
                      Software\Wow6432Node; plus a 64-bit shell extension of the suite, beside
                      other software that must stay ("Orlen Helper", txtfile, .txt) and Wine's
                      link keys between the two nodes
  taRegKeywords.txt   the keywords: Tarvo, Nexbay

The suite's keys in the prefix:
EOF
show_suite_keys

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo
  echo "There is no display (DISPLAY is not set), so nobody could press the window's buttons."
  echo "Starting sorvel under xvfb-run instead, to take a picture of its window."
  SORVEL=$repo/build/sorvel bash scripts/screenshot.sh "$run/sorvel-window.png"
  echo "Run this script again from a desktop session to use the window."
  exit 0
fi

cat <<EOF

Starting sorvel with WINEPREFIX=$prefix in $run.
In the window: press "Remove...". The search shows each keyword and area it searches; then it
asks "Press Ok, to remove registry keys": OK writes every key found to taDeletedRegKeys.reg and
then deletes it. Tick "Remove Settings" first to also remove Software\\Tarvo\\98 in both nodes
and for the user (asked separately). Close the window with "Cancel" when done.
EOF
status=0
(cd "$run" && WINEPREFIX=$prefix "$repo/build/sorvel") || status=$?

echo
if [ -f "$run/taDeletedRegKeys.reg" ]; then
  blocks=$(grep -c '^\[' "$run/taDeletedRegKeys.reg" || true)
  echo "Backup written: $run/taDeletedRegKeys.reg ($blocks key blocks). Its key lines name each"
  echo "key where a 64-bit regedit puts it back (32-bit keys below Wow6432Node):"
  grep '^\[' "$run/taDeletedRegKeys.reg" | tr -d '\r' | sed 's/^/  /'
else
  echo "No backup was written (no removal was confirmed)."
fi
echo
echo "The suite's keys left in the prefix:"
show_suite_keys
cat <<EOF

To bring the removed keys back with Wine's reg:
  bash scripts/demo.sh restore
which runs, in $run:
  WINEPREFIX=$prefix wine reg import taDeletedRegKeys.reg /reg:64
EOF
exit $status
