#!/usr/bin/env bash
# Everything on a fresh Debian machine: install what is missing, build, run all the tests.
# Tests that need Wine, Xvfb or a loopback server start them themselves.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
bash scripts/build-windows.sh  # its x86_64 tests run under Wine with the others below
cd build
ctest --output-on-failure -j "$(nproc)" --timeout 1800
