#!/usr/bin/env bash
# Builds the Windows programs with the MinGW cross compilers (installed with apt-get when missing)
# into build/windows-i686/ (the real target: 32-bit Windows, and 64-bit Windows through WOW64) and
# build/windows-x86_64/. Both run here under Wine: their tests are part of the ctest run of
# build/ (cmake/WindowsTests.cmake), or run alone with `ctest --test-dir build/windows-<arch>`.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh windows

werror=${SORVEL_WERROR:-ON}

# The tests' Wine prefixes, made once and shared by both builds: a 64-bit Windows, where the
# x86_64 programs run and the i686 ones run through WOW64, and a 32-bit Windows (one registry
# node), where the i686 programs run alone. Each is made by its own loader, named by its path.
prefixes=$PWD/build/wine-prefixes
make_prefix() {  # KIND LOADER
  local prefix=$prefixes/$1
  if [ ! -f "$prefix/system.reg" ]; then
    echo "Making the $1 Wine prefix for the Windows tests (once): $prefix"
    rm -rf "$prefix"
    mkdir -p "$prefixes"
    WINEARCH=$1 WINEPREFIX=$prefix WINEDEBUG=-all DISPLAY= "$2" wineboot -i >/dev/null 2>&1
    WINEPREFIX=$prefix timeout 120 wineserver -w
  fi
  grep -qx "#arch=$1" "$prefix/system.reg" || { echo "$prefix is not a $1 prefix" >&2; exit 1; }
}
make_prefix win64 /usr/lib/wine/wine64
make_prefix win32 /usr/lib/wine/wine

# Wine takes a program's ANSI code page from its locale's language: the path tests run in a
# German one (Windows-1252) and a Russian one (Windows-1251), made here from Debian's locale
# sources into a folder of the build's own (LOCPATH), so nothing on the machine changes. Both
# are UTF-8 locales, so that a file name may hold what the code page lacks (C:\Jürgen on a
# Russian system), as on Windows, where names are UTF-16.
locales=$prefixes/locales
for locale in de_DE.UTF-8 ru_RU.UTF-8; do
  if [ ! -f "$locales/$locale/LC_CTYPE" ]; then
    mkdir -p "$locales"
    localedef -i "${locale%%.*}" -f "${locale#*.}" "$locales/$locale"
  fi
done

for arch in i686 x86_64; do
  dir=build/windows-$arch
  # Tests run under Wine (tests/support/run_under_wine.sh), by default in the architecture's own
  # Windows; the i686 tests run once more in the 64-bit one (tests/CMakeLists.txt).
  own=win64
  [ "$arch" = x86_64 ] || own=win32
  options=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DSORVEL_WERROR="$werror"
           -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-$arch-w64-mingw32.cmake"
           "-DCMAKE_CROSSCOMPILING_EMULATOR=sh;$PWD/tests/support/run_under_wine.sh;$prefixes/$own"
           -DSORVEL_WINE_PREFIX_WIN64="$prefixes/win64" -DSORVEL_WINE_PREFIX_WIN32="$prefixes/win32"
           -DSORVEL_TEST_LOCALES="$locales"
           -DSORVEL_TESTS=ON)
  if command -v ccache >/dev/null; then
    options+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  fi
  cmake -S . -B "$dir" "${options[@]}" >/dev/null
  cmake --build "$dir" -j "$(nproc)"
  # What ships, per architecture (packaging/windows/package.sh): the zip of everything the build
  # installs, build/windows-<arch>/sorvel-<version>-windows-<arch>.zip, and the Windows Installer
  # package of the same files, sorvel-<version>-x86.msi (i686) or sorvel-<version>-x64.msi,
  # signed when SORVEL_SIGN_PKCS12 and SORVEL_SIGN_PASSWORD name a certificate.
  bash packaging/windows/package.sh "$arch" "$dir"
done
