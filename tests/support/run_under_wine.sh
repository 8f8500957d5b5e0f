#!/bin/sh
# Runs a Windows program of the tests under Wine, in the tests' prefix: the one that
# SORVEL_TESTS_WINEPREFIX names (a test that runs the i686 programs in a 32-bit and in a 64-bit
# Windows says which), else the first argument, the build's own.
# A Wine server, and Wine's own services, that a program under ctest started itself would keep
# ctest's output pipe open, and ctest would wait for them; so the first program to come starts
# them here with their output let go (and without the lock below, which they would hold too),
# while the others wait for it. They stay 30 s after the last program ends, so a whole test run
# starts them once (a Wine start without them costs 3-4 s), and nothing is left running after.
prefix=${SORVEL_TESTS_WINEPREFIX:-$1}
shift
export WINEPREFIX="$prefix" WINEDEBUG=-all
# The loader the prefix's kind needs, by its path: a 32-bit Windows refuses the 64-bit loader,
# and what plain `wine` is depends on whether 32-bit Wine is installed.
if grep -qx '#arch=win32' "$prefix/system.reg"; then
  loader=/usr/lib/wine/wine
else
  loader=/usr/lib/wine/wine64
fi
(
  flock 9
  # 0: started here; 2: one is running already.
  if wineserver -p30 </dev/null >/dev/null 2>&1 9>&-; then
    "$loader" cmd /c exit </dev/null >/dev/null 2>&1 9>&-
  fi
) 9>"$prefix/.tests-start.lock"
exec "$loader" "$@"
