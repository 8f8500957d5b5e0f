#!/usr/bin/env bash
# Everything on a fresh Debian machine: install what is missing, build, make the Debian packages
# and install them on a clean Debian, run all the tests.
# Tests that need Wine, Xvfb or a loopback server start them themselves.
set -euo pipefail
cd "$(dirname "$0")/.."
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
bash scripts/install-deps.sh
bash scripts/build.sh
bash scripts/build-windows.sh  # its tests (both architectures) run under Wine with the others below
bash scripts/package.sh
$SUDO bash scripts/check-packages.sh  # in a chroot that it removes again
cd build
ctest --output-on-failure -j "$(nproc)" --timeout 1800
