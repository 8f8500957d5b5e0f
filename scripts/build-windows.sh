#!/usr/bin/env bash
# Builds the Windows programs with the MinGW cross compilers (installed with apt-get when missing)
# into build/windows-i686/ (the real target: 32-bit Windows, and 64-bit Windows through WOW64) and
# build/windows-x86_64/. The x86_64 build also runs here, under Wine: its tests are part of the
# ctest run of build/ (see the top-level CMakeLists.txt), or run alone with
# `ctest --test-dir build/windows-x86_64`.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh windows

werror=${SORVEL_WERROR:-ON}
for arch in i686 x86_64; do
  dir=build/windows-$arch
  options=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DSORVEL_WERROR="$werror"
           -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-$arch-w64-mingw32.cmake")
  if [ "$arch" = x86_64 ]; then
    # Tests run under Wine in a prefix of their own, made once per build folder.
    prefix=$PWD/$dir/wineprefix
    mkdir -p "$dir"
    if [ ! -f "$prefix/system.reg" ]; then
      echo "Making the Wine prefix for the Windows tests (once): $prefix"
      WINEPREFIX=$prefix WINEDEBUG=-all DISPLAY= wineboot -i >/dev/null 2>&1
      WINEPREFIX=$prefix wineserver -w
    fi
    options+=("-DCMAKE_CROSSCOMPILING_EMULATOR=sh;$PWD/tests/support/run_under_wine.sh;$prefix"
              -DSORVEL_WINE_PREFIX="$prefix")
  else
    options+=(-DSORVEL_TESTS=OFF)
  fi
  if command -v ccache >/dev/null; then
    options+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  fi
  cmake -S . -B "$dir" "${options[@]}" >/dev/null
  cmake --build "$dir" -j "$(nproc)"
  # One zip per architecture, of everything the build installs (cmake/WindowsZip.cmake):
  # build/windows-<arch>/sorvel-<version>-windows-<arch>.zip
  (cd "$dir" && cpack >/dev/null)
done
