#!/bin/sh
# Runs a Windows program of the tests under Wine, in the tests' prefix (the first argument).
# The Wine server is started here with its output let go: a server that a program under ctest
# started itself would keep ctest's output pipe open and ctest would wait for it. The server stays
# 30 s after the last program ends, so a whole test run starts it once (a Wine start without a
# running server costs 3-4 s) and nothing is left running afterwards.
prefix=$1
shift
export WINEPREFIX="$prefix" WINEDEBUG=-all
wineserver -p30 </dev/null >/dev/null 2>&1 || true  # 2: one is running already
exec /usr/lib/wine/wine64 "$@"
