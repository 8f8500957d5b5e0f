#!/usr/bin/env bash
# Configures and builds everything into build/ (warnings are errors here, as in CI).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSORVEL_WERROR=ON >/dev/null
cmake --build build -j "$(nproc)"
