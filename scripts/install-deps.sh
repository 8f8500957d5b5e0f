#!/usr/bin/env bash
# Installs, from Debian's packages, everything the build, the tests, the benchmarks, the demo
# and the Debian packages (their build, lintian, a clean Debian to install them on) need. Does
# nothing when all of it is already there.
# `install-deps.sh windows` installs only what scripts/build-windows.sh needs.
set -euo pipefail

# The Windows programs: the MinGW cross compilers, GoogleTest's sources, the JSON header (also
# for Linux), Wine to run the tests.
windows_packages=(
  cmake ninja-build libgtest-dev libgmock-dev nlohmann-json3-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 gcc-mingw-w64-i686 gcc-mingw-w64-x86-64
  wine wine64 wine32:i386 zip
  wixl msitools osslsigncode openssl  # the Windows Installer packages: build, check, sign
  locales  # the Windows-1252 and -1251 locales in which Wine runs the path tests (localedef)
)
if [ "${1:-}" = windows ]; then
  packages=("${windows_packages[@]}")
else
  packages=(
    build-essential cmake ninja-build pkg-config clang
    libgtest-dev libgmock-dev libbenchmark-dev
    qt6-base-dev libcurl4-openssl-dev
    wine wine64 xvfb xauth x11-utils xdotool imagemagick curl python3
    libclang-rt-dev
    debhelper
    lintian
    desktop-file-utils
    debootstrap
    ansible
    "${windows_packages[@]}"
  )
fi

# 32-bit Wine runs the i686 programs, the real target; its packages come from the i386
# architecture, which a fresh Debian does not list yet.
need_i386=0
dpkg --print-foreign-architectures | grep -qx i386 || need_i386=1

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ] && [ $need_i386 -eq 0 ]; then
  exit 0
fi
echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
[ $need_i386 -eq 0 ] || $SUDO dpkg --add-architecture i386
# A mirror in the middle of a sync fails one index now and then: try again, and go on with what
# was fetched (the install below says clearly if a package is still missing).
# (Seen here: a stale i386 index for an hour or more, so the tries are spread over some minutes.)
for attempt in 1 2 3 4 5 6; do
  $SUDO apt-get update -qq && break
  echo "apt-get update failed (attempt $attempt of 6); trying again in $((attempt * 20)) s" >&2
  [ $attempt -eq 6 ] || sleep $((attempt * 20))
done
# With recommends, as the tests were made on: Wine and Qt are used with what Debian pairs them.
# The i386 packages go without: 32-bit Wine needs none of its recommends here, and they would
# add some hundreds of megabytes of 32-bit libraries.
native=() foreign=()
for p in "${missing[@]}"; do
  case $p in *:i386) foreign+=("$p") ;; *) native+=("$p") ;; esac
done
[ ${#native[@]} -eq 0 ] ||
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${native[@]}" >/dev/null
[ ${#foreign[@]} -eq 0 ] ||
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
    "${foreign[@]}" >/dev/null
